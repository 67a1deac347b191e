#!/bin/sh
# The tool run from a POSIX shell with standard output redirected to a file,
# the input or the output file, as a user runs it. Its arguments are the
# command that starts the tool (for a Windows build: through Wine).
set -u
work=$(mktemp -d) && cd "$work" || exit 1
trap 'rm -rf "$work"' EXIT
failed=0
# expect NAME STATUS [FILE BYTES]: how the last run ended, and what FILE holds.
expect() {
  [ "$status" -eq "$2" ] || { echo "$1: status $status, not $2"; failed=1; }
  [ $# -lt 4 ] || { printf "$4" >want && cmp -s want "$3"; } ||
    { echo "$1: $3 holds" && od -c "$3" && failed=1; }
}
printf '=+ 27 28 29' >in.ost
printf keep >out
"$@" in.ost >text; status=$?; expect "to a file" 0 text 'abc'
"$@" in.ost >>in.ost; status=$?; expect "to the input" 1 in.ost '=+ 27 28 29'
"$@" in.ost out >>out; status=$?
expect "to the output file" 1 out \
  'keep\r\nThe output file out is standard output as well; nothing was decoded.\r\n'
"$@" in.ost out >text; status=$?; expect "to a file, with an output file" 0 out 'abc'
"$@" >/dev/full; status=$?; expect "banner lost" 255
"$@" /dev/null >/dev/full; status=$?; expect "message lost" 255
"$@" /dev/null >/dev/null; status=$?; expect "null device in and out" 0
exit $failed
