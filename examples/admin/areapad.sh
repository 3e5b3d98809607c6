#!/bin/sh
# Stand-in for the server's Image Map Editor tool: the demo has no real one, so it
# only says how it was started (folder and arguments, e.g. "-r MACHINE").
echo "Image Map Editor started in $(pwd) with arguments: $*" >&2
