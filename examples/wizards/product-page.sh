#!/bin/sh
# Page wizard: a product page with picture, description and the order form.
path=$1
[ -n "$path" ] || { echo "usage: product-page.sh FILE" >&2; exit 2; }
[ -s "$path" ] && { echo "$path exists; left alone" >&2; exit 1; }
mkdir -p "$(dirname "$path")"
name=$(basename "$path" .html)
cat > "$path" <<PAGE
<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN">
<html>
<head>
<title>$name</title>
<link rel="stylesheet" type="text/css" href="/styles/site.css">
</head>
<body>
<p><a href="/"><img src="/images/logo.gif" width="120" height="40" alt="Home"></a>
<a href="index.html"><img src="/~icons/back.gif" width="16" height="16" alt="Back to the instruments"></a></p>
<h1>$name</h1>
<p><img src="../images/$name.png" width="64" height="48" alt="$name"></p>
<p>Description.</p>
<form action="/cgi-dos/order.bat" method="post">
<input type="hidden" name="item" value="$name">
<input type="submit" value="Place order">
</form>
<p><a href="index.html">All instruments</a></p>
</body>
</html>
PAGE
