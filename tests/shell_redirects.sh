#!/bin/sh
# The tool as a user runs it from a POSIX shell, its standard output redirected
# to files; the arguments start the tool (for a Windows build: through Wine).
work=$(mktemp -d) && cd "$work" && trap 'rm -rf "$work"' EXIT || exit 1
failed=0
# expect STATUS NAME WANTED [FILE BYTES]: the last run's status, and FILE's bytes.
expect() {
  [ "$1" -eq "$3" ] || { echo "$2: status $1, not $3" && failed=1; }
  [ $# -lt 5 ] || { printf "$5" >want && cmp -s want "$4"; } ||
    { echo "$2: $4 holds" && od -c "$4" && failed=1; }
}
printf '=+ 27 28 29' >in.ost && printf keep >out
"$@" in.ost >text; expect $? "to a file" 0 text 'abc'
"$@" in.ost out >text; expect $? "to a file, with an output file" 0 out 'abc'
"$@" in.ost >>in.ost; expect $? "to the input" 1 in.ost '=+ 27 28 29'
printf keep >out && "$@" in.ost out >>out; expect $? "to the output file" 1 out \
  'keep\r\nThe output file out is standard output as well; nothing was decoded.\r\n'
"$@" >/dev/full; expect $? "banner lost" 255
"$@" /dev/null >/dev/full; expect $? "message lost" 255
"$@" /dev/null >/dev/null; expect $? "null device in and out" 0
exit $failed
