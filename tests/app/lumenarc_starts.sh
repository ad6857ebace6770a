#!/bin/sh
# The desktop program builds its whole composition root, paints its start-up
# window within a bound, keeps serving its event loop and ends cleanly (status
# 0) when SIGTERM asks it to. A program that hangs before its first paint, or
# whose event loop stops, fails: it never writes its ready file, or never
# answers the signal.
#
# Usage: lumenarc_starts.sh PROGRAM [SECONDS_TO_PAINT]
program=$1
bound=${2:-30}
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
ready=$dir/ready

LUMENARC_READY_FILE=$ready "$program" &
pid=$!

waited=0
while [ ! -s "$ready" ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid"
        echo "FAIL: the program ended (status $?) before its start-up window painted" >&2
        exit 1
    fi
    if [ "$waited" -ge $((bound * 10)) ]; then
        kill -KILL "$pid"
        echo "FAIL: no start-up window painted within $bound s" >&2
        exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
done
echo "painted after about $((waited / 10)).$((waited % 10)) s"

kill -TERM "$pid"
waited=0
while kill -0 "$pid" 2>/dev/null; do
    if [ "$waited" -ge 200 ]; then
        kill -KILL "$pid"
        echo "FAIL: the program did not end within 20 s of SIGTERM" >&2
        exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
done
wait "$pid"
status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: the program ended with status $status on SIGTERM" >&2
    exit 1
fi
echo "ended cleanly on SIGTERM"
