#!/bin/sh
# Site search for the demo server: /cgi-bin/search.sh?q=WORD lists the pages
# that mention WORD. Extra path after the script name (/advanced) shows the
# longer form.
here=$(cd "$(dirname "$0")" && pwd)
site="$here/../demo-site"

# The query's "q" field, with "+" as blank; other escapes are dropped rather
# than decoded, which is enough for a demo and keeps grep safe.
q=$(printf '%s\n' "${QUERY_STRING:-}" | tr '&' '\n' | sed -n 's/^q=//p' | head -n 1 |
    tr '+' ' ' | sed 's/%[0-9A-Fa-f][0-9A-Fa-f]//g' | tr -cd 'A-Za-z0-9 ._-')

printf 'Content-Type: text/html\r\n\r\n'
printf '<html><head><title>Search</title></head><body>\n'
if [ "${PATH_INFO:-}" = "/advanced" ]; then
    printf '<h1>Advanced search</h1>\n<form action="/cgi-bin/search.sh" method="get">\n'
    printf '<p>Words: <input name="q" size="40"> <input type="submit" value="Search"></p>\n</form>\n'
elif [ -z "$q" ]; then
    printf '<h1>Search</h1><p>Type a word to look for.</p>\n'
else
    printf '<h1>Pages about "%s"</h1>\n<ul>\n' "$q"
    (cd "$site" && grep -ril --include='*.html' -e "$q" . 2>/dev/null) | sort |
    while read -r page; do
        page=${page#./}
        # The handbook folder is served under /manual/.
        case $page in handbook/*) page="manual/${page#handbook/}" ;; esac
        printf '<li><a href="/%s">/%s</a></li>\n' "$page" "$page"
    done
    printf '</ul>\n'
fi
printf '<p><a href="/">Home</a></p></body></html>\n'
