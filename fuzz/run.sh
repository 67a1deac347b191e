#!/usr/bin/env bash
# Builds every fuzz_ target with clang and runs each for a while from its seed
# corpus. Exits non-zero on any finding or when a target cannot be run.
#
# usage: fuzz/run.sh [target...]        (default: every fuzz_ target)
#
# Environment:
#   QUARVEND_FUZZ_SECONDS  run time per target, seconds  (default: 60)
#   QUARVEND_FUZZ_BUILD    build folder                  (default: <repo>/build-fuzz)
#   CC, CXX                clang compilers               (default: clang, clang++)
#
# The committed corpus under fuzz/corpus/ is only read: new inputs go to a
# scratch folder that is thrown away. Crashing inputs and the full log of
# each target are kept under the build folder, in artifacts/ and logs/. To
# replay one input: <build folder>/fuzz/fuzz_decode FILE. The build folder's
# ctest also replays every seed corpus.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
seconds=${QUARVEND_FUZZ_SECONDS:-60}
build=${QUARVEND_FUZZ_BUILD:-$repo/build-fuzz}

die() {
    echo "fuzz/run.sh: $*" >&2
    exit 1
}

[[ $seconds =~ ^[1-9][0-9]*$ ]] || die "QUARVEND_FUZZ_SECONDS must be a positive whole number"

mkdir -p "$build/logs" "$build/artifacts"
if ! CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$repo" -B "$build" -G Ninja \
        -DQUARVEND_FUZZ=ON -DQUARVEND_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        >"$build/logs/configure.log" 2>&1; then
    tail -n 20 "$build/logs/configure.log" >&2
    die "configure failed"
fi

all=$(ninja -C "$build" -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): phony$/\1/p' | sort)
[ -n "$all" ] || die "no fuzz_ targets found"
if [ $# -gt 0 ]; then
    targets="$*"
    for t in $targets; do
        grep -qx "$t" <<<"$all" || die "unknown target $t (have: $(tr "\n" " " <<<"$all"))"
    done
else
    targets=$all
fi

# shellcheck disable=SC2086  # target names are plain words
if ! cmake --build "$build" --target $targets >"$build/logs/build.log" 2>&1; then
    tail -n 30 "$build/logs/build.log" >&2
    die "build failed"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=0
for t in $targets; do
    seeds="$repo/fuzz/corpus/${t#fuzz_}"
    log="$build/logs/$t.log"
    if [ ! -d "$seeds" ]; then
        echo "$t: FAILED, no seed corpus in ${seeds#"$repo"/}"
        failed=1
        continue
    fi
    mkdir -p "$scratch/$t"
    status=0
    "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/artifacts/$t-" \
        "$scratch/$t" "$seeds" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^Done \([0-9]*\) runs in .*/\1/p' "$log" | tail -n 1)
    if [ "$status" -ne 0 ] || [ -z "$runs" ]; then
        echo "$t: FAILED (exit $status); log: $log"
        grep -E 'invariant broken|ERROR: |SUMMARY: |^artifact_prefix|Test unit written' "$log" \
            | head -n 8 | sed 's/^/    /'
        failed=1
    else
        echo "$t: ok, $runs runs in ${seconds}s"
    fi
done
exit "$failed"
