#!/usr/bin/env bash
# Runs two builds of entrytable (say the Linux one and the Windows one under wine) on
# every fixture listing and on a folder without input.txt, and fails unless both write
# the same output.txt, standard output and exit status.
# Usage: tests/same_bytes.sh 'LINUX_COMMAND' 'WINDOWS_COMMAND'
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # run COMMAND FOLDER: prints nothing, leaves stdout and status beside output.txt
    (cd "$2" && eval "$1" >stdout; echo $? >status)
}

failures=0
cases=("$here/../example/input.txt" "$here"/fixtures/*/input.txt "")
for input in "${cases[@]}"; do
    for side in a b; do
        mkdir -p "$work/$side"
        rm -f "$work/$side"/*
        [ -n "$input" ] && cp "$input" "$work/$side/input.txt"
    done
    run "$1" "$work/a"
    run "$2" "$work/b"
    if diff -r "$work/a" "$work/b" >/dev/null; then
        echo "same bytes: ${input:-no input.txt}"
    else
        echo "DIFFERENT: ${input:-no input.txt}"
        failures=$((failures + 1))
    fi
done
[ "$failures" = 0 ]
