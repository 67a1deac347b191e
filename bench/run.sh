#!/usr/bin/env bash
# Benchmark for quarvend: decoding speed and start-up against `cat` (and
# `base64 -d`), and peak memory on a large and a small input; and for
# quarvend-encode: encoding speed against `cat` and `base64`, and peak
# memory. See bench/README.md.
#
# usage: bench/run.sh [--mb N] [--rounds N] [--bin PATH] [--work DIR] [--fresh]
#
# Environment (flags win over these):
#   QUARVEND_BIN           quarvend binary, with quarvend-encode beside it
#                                                   (default: <repo>/build/quarvend)
#   QUARVEND_BENCH_MB      size of big inputs, MiB  (default: 256)
#   QUARVEND_BENCH_ROUNDS  timed rounds             (default: 7)
#   QUARVEND_BENCH_DIR     work folder              (default: /tmp/quarvend-bench)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")

bin=${QUARVEND_BIN:-$repo/build/quarvend}
mb=${QUARVEND_BENCH_MB:-256}
rounds=${QUARVEND_BENCH_ROUNDS:-7}
work=${QUARVEND_BENCH_DIR:-/tmp/quarvend-bench}
fresh=0

usage() {
    sed -n '5,12s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"
}

die() {
    echo "run.sh: $*" >&2
    exit 1
}

while [ $# -gt 0 ]; do
    case $1 in
        --mb) mb=${2:?--mb needs a value}; shift 2 ;;
        --rounds) rounds=${2:?--rounds needs a value}; shift 2 ;;
        --bin) bin=${2:?--bin needs a value}; shift 2 ;;
        --work) work=${2:?--work needs a value}; shift 2 ;;
        --fresh) fresh=1; shift ;;
        -h|--help) usage; exit 0 ;;
        *) usage >&2; die "unknown argument: $1" ;;
    esac
done

[[ $mb =~ ^[1-9][0-9]*$ ]] || die "size must be a whole number of MiB, got '$mb'"
[[ $rounds =~ ^[1-9][0-9]*$ ]] || die "rounds must be a positive whole number, got '$rounds'"

# The binary: a bare name is looked up on PATH; anything else is a path.
if [[ $bin != */* ]]; then
    found=$(command -v -- "$bin" || true)
    [ -n "$found" ] || die "no command '$bin' on PATH"
    bin=$found
fi
if [ ! -x "$bin" ]; then
    die "no quarvend binary at $bin
build it first:  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build
or point to one: bench/run.sh --bin PATH   (or QUARVEND_BIN=PATH)"
fi
bin=$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")
enc=$(dirname "$bin")/quarvend-encode
[ -x "$enc" ] || die "no quarvend-encode beside $bin; build it too (cmake --build build)"

for tool in python3 base64 cat head cmp sed taskset; do
    command -v "$tool" >/dev/null || die "needs '$tool' on PATH"
done

# The text that gets encoded: a licence text that Debian ships.
src=/usr/share/common-licenses/GPL-3
if [ ! -r "$src" ]; then
    src=
    for f in /usr/share/common-licenses/*; do
        if [ -f "$f" ] && [ -r "$f" ]; then src=$f; break; fi
    done
    [ -n "$src" ] || die "no readable text in /usr/share/common-licenses"
fi

mkdir -p "$work"
work=$(cd "$work" && pwd)

# Inputs: reused when they were made with the same size, text and encoder.
# Each NAME.ost is the encoding of NAME.txt, the licence text over and over,
# cut at a line end, with as much text as makes the .ost file about SIZE
# bytes; NAME.expected is what quarvend should print for it: the text with
# every line feed written as CR LF.
bytes=$((mb * 1024 * 1024))
stamp="size=$bytes src=$src enc=$(cksum < "$enc")"
make_ost() { # NAME SIZE
    local text_bytes=$(($2 * $(wc -c < "$src") / $("$enc" "$src" | wc -c)))
    python3 - "$src" "$text_bytes" "$work/$1.txt" <<'PY'
import sys
source = open(sys.argv[1], "rb").read()
size = int(sys.argv[2])
text = (source * (size // len(source) + 1))[:size]
open(sys.argv[3], "wb").write(text[: text.rfind(b"\n") + 1])
PY
    "$enc" "$work/$1.txt" "$work/$1.ost"
    sed 's/$/\r/' "$work/$1.txt" > "$work/$1.expected"
}
if [ "$fresh" = 1 ] || [ "$(cat "$work/inputs.stamp" 2>/dev/null || true)" != "$stamp" ] ||
   [ ! -f "$work/big.ost" ] || [ ! -f "$work/big.b64" ] || [ ! -f "$work/small.ost" ] ||
   [ ! -f "$work/small.expected" ] || [ ! -f "$work/tiny.ost" ] ||
   [ ! -f "$work/medium.ost" ] || [ ! -f "$work/big.expected" ]; then
    echo "making inputs in $work (${mb} MiB, text from $src)"
    rm -f "$work/inputs.stamp"
    make_ost big "$bytes"
    make_ost small 1024
    make_ost tiny 100
    make_ost medium $((8 * 1024 * 1024))
    rm -f "$work"/{big,small,tiny,medium}.txt
    # base64 wraps at 76 characters: every 57 random bytes become a 77-byte
    # line, so whole lines make a file of just under $bytes bytes.
    b64_lines=$((bytes / 77))
    head -c $((b64_lines * 57)) /dev/urandom | base64 > "$work/big.b64"
    echo "$stamp" > "$work/inputs.stamp"
else
    echo "reusing inputs in $work"
fi

# Quick check that the binary decodes the small file correctly. A mismatch
# only warns, so that a stand-in command can still be timed.
# (With an output file, what goes to stdout may carry more than the text, so
# only the file is compared in that case.)
if "$bin" "$work/small.ost" 2>/dev/null | cmp -s - "$work/small.expected"; then
    echo "check: 'quarvend small.ost' prints the expected text"
else
    echo "WARNING: 'quarvend small.ost' does not print the expected text; timings may not mean much" >&2
fi
rm -f "$work/small.out"
if "$bin" "$work/small.ost" "$work/small.out" >/dev/null 2>&1 &&
   cmp -s "$work/small.out" "$work/small.expected"; then
    echo "check: 'quarvend small.ost small.out' writes the expected text"
else
    echo "WARNING: 'quarvend small.ost small.out' does not write the expected text; timings may not mean much" >&2
fi
rm -f "$work/small.out"
# The encoder's text is the decoded form of big.ost, CR LF line ends and all.
if "$enc" "$work/big.expected" | cmp -s - "$work/big.ost"; then
    echo "check: 'quarvend-encode big.expected' prints big.ost"
else
    echo "WARNING: 'quarvend-encode big.expected' does not print big.ost; timings may not mean much" >&2
fi

# GNU time gives the peak resident memory; install it when it is missing.
time_bin=/usr/bin/time
if [ ! -x "$time_bin" ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        echo "installing GNU time"
        apt-get install -y time >/dev/null 2>&1 ||
            { apt-get update >/dev/null 2>&1 && apt-get install -y time >/dev/null 2>&1; } || true
    fi
    if [ ! -x "$time_bin" ]; then
        echo "WARNING: GNU time is not available; memory figures are skipped" >&2
        time_bin=
    fi
fi

# Warm the page cache so that every command reads from memory.
for f in big.ost big.b64 small.ost tiny.ost big.expected; do
    cat "$work/$f" > /dev/null
done
echo

exec python3 "$here/measure.py" --bin "$bin" --enc "$enc" --work "$work" --rounds "$rounds" --time-bin "$time_bin"
