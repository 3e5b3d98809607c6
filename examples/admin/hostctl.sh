#!/bin/sh
# Stand-in for the server's Server Admin tool: the demo has no real one, so it
# only says how it was started (folder and arguments, e.g. "-r MACHINE").
echo "Server Admin started in $(pwd) with arguments: $*" >&2
