#!/bin/sh
# A companion program's stand-in: at each start it adds a line to
# $STANDIN_LOGS/NAME.log with its process id, working folder, program path and
# arguments, tab-separated. One whose name has "hold" in it stays running;
# the others end with the code in $STANDIN_EXIT.
line="$$	$(pwd)	$0"
for a in "$@"; do line="$line	$a"; done
printf '%s\n' "$line" >> "$STANDIN_LOGS/$(basename "$0").log"
case "$(basename "$0")" in *hold*) exec sleep 30 ;; esac
exit "${STANDIN_EXIT:-0}"
