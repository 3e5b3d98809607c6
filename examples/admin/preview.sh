#!/bin/sh
# Browser command of the demo: shows the URL in the desktop's browser when
# there is one, else prints it.
url=$1
for b in "${BROWSER:-}" xdg-open sensible-browser; do
    if [ -n "$b" ] && command -v "$b" >/dev/null 2>&1; then
        "$b" "$url" 2>/dev/null && exit 0
    fi
done
echo "Browser preview: $url"
