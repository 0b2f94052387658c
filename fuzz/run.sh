#!/bin/sh
# Runs one fuzzer for a bounded time: fuzz/run.sh <fuzzer> <seconds> <work folder> <seed folder>
# New inputs go to <work folder>/corpus, findings to <work folder>/findings; the
# seed corpus in the repository is only read. Ends with the number of inputs run.
set -eu
fuzzer=$1 seconds=$2 work=$3 seeds=$4
mkdir -p "$work/corpus" "$work/findings"
log=$work/log.txt
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -max_len=16384 -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus" "$seeds" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "$(basename "$fuzzer"): FINDING, input saved in $work/findings/" >&2
    exit "$status"
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
corpus=$(ls "$work/corpus" | wc -l)
echo "$(basename "$fuzzer"): ${runs:-?} inputs in ${seconds} s, no finding (work corpus: $corpus inputs)"
