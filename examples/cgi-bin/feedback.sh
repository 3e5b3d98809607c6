#!/bin/sh
# Takes the contact form's post and thanks the writer. The message itself is
# appended to feedback.txt beside this script when that file is writable.
here=$(cd "$(dirname "$0")" && pwd)
len=${CONTENT_LENGTH:-0}
case $len in ''|*[!0-9]*) len=0 ;; esac
body=$(head -c "$len")
if [ -w "$here/feedback.txt" ]; then
    printf '%s %s\n' "$(date '+%d/%b/%Y:%H:%M:%S')" "$body" >> "$here/feedback.txt"
fi
printf 'Content-Type: text/html\r\n\r\n'
printf '<html><head><title>Thank you</title></head><body>\n'
printf '<h1>Thank you</h1><p>Your message has reached the workshop; we answer within two working days.</p>\n'
printf '<p><a href="/">Home</a></p></body></html>\n'
