#!/bin/sh
# Runs the command given with standard input open and idle: a pipe whose writer never writes, ended
# with the command.
fifo=$(mktemp -u) || exit 1
mkfifo "$fifo" || exit 1
sleep 600 > "$fifo" &
writer=$!
"$@" < "$fifo"
status=$?
kill "$writer"
rm -f "$fifo"
exit $status
