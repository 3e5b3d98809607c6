#!/bin/sh
# Page wizard: writes an empty page with the site's header and footer to the
# given path, unless a document is already there.
path=$1
[ -n "$path" ] || { echo "usage: blank-page.sh FILE" >&2; exit 2; }
[ -s "$path" ] && { echo "$path exists; left alone" >&2; exit 1; }
mkdir -p "$(dirname "$path")"
title=$(basename "$path" .html)
cat > "$path" <<PAGE
<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">
<html>
<head>
<title>$title</title>
<link rel="stylesheet" type="text/css" href="/styles/site.css">
</head>
<body>
<p><a href="/"><img src="/images/logo.gif" width="120" height="40" alt="Home"></a></p>
<h1>$title</h1>
<p></p>
<hr>
<p><a href="/">Home</a></p>
</body>
</html>
PAGE
