#!/usr/bin/env bash
# Runs fuzz targets built in BUILD_DIR for SECONDS each, FUZZ_PARALLEL (default 2) at a time,
# each on one core; fails when any target finds something. New inputs go to
# BUILD_DIR/fuzz-corpus/<target>, crashes to BUILD_DIR/fuzz-artifacts, logs to
# BUILD_DIR/fuzz-logs: nothing is written into the source tree.
# usage: fuzz/run.sh BUILD_DIR SECONDS TARGET...
set -euo pipefail

build=$(cd "$1" && pwd)
seconds=$2
shift 2
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
mkdir -p "$build/fuzz-artifacts" "$build/fuzz-logs"

run_one() {
    local target=$1 max_len=8192
    # The line readers need lines longer than the socket stream's 16 KiB block.
    case $target in nntp_reply | compress_capabilities) max_len=40000 ;; esac
    local log="$build/fuzz-logs/$target.log"
    mkdir -p "$build/fuzz-corpus/$target"
    if "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -max_len="$max_len" -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-artifacts/$target-" \
        "$build/fuzz-corpus/$target" "$seeds/$target" >"$log" 2>&1; then
        local runs
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: ${runs:-?} executions in ${seconds}s, nothing found"
    else
        echo "fuzz_$target: FOUND A PROBLEM (log: $log)"
        grep -E 'invariant broken|runtime error|ERROR:|SUMMARY|Test unit written' "$log" | head -n 20
        return 1
    fi
}
export -f run_one
export build seconds seeds

printf '%s\n' "$@" | xargs -P "${FUZZ_PARALLEL:-2}" -I{} bash -c 'run_one {}'
