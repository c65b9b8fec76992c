#!/bin/sh
# Builds the libFuzzer harnesses (preset fuzz) and runs each one for SECONDS
# (default 60) on a copy of its seed corpus, so the repository is not
# written. Fails on any finding; the input that caused it is kept in
# build/fuzz/findings/. Ends with each harness's executions and coverage.
#
# With FUZZ_CORPUS_DIR set, the corpus lives there and grows from run to run
# (tests/fuzz/run-long.sh).
set -eu
cd "$(dirname "$0")/../.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=build/fuzz/findings
status=0
summary=""
for harness in line_framing config userdb hash_scheme; do
    program=build/fuzz/tests/fuzz/${harness}_fuzzer
    [ -x "$program" ] || continue
    if [ -n "${FUZZ_CORPUS_DIR:-}" ]; then
        corpus=$FUZZ_CORPUS_DIR/$harness
    else
        corpus=$work/$harness
    fi
    mkdir -p "$corpus" "$work/artifacts-$harness"
    cp tests/fuzz/corpus/"$harness"/* "$corpus"/
    case $harness in
    userdb) max_len=12000 ;; # lines beyond the 4096-byte limit, and the padding steer
    *) max_len=4096 ;;
    esac
    log=$work/$harness.log
    echo "fuzzing $harness for $seconds s"
    if ! "$program" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -dict=tests/fuzz/"$harness".dict -artifact_prefix="$work/artifacts-$harness/" \
        -print_final_stats=1 "$corpus" >"$log" 2>&1; then
        status=1
        mkdir -p "$findings"
        cp "$work/artifacts-$harness"/* "$findings"/ 2>/dev/null || true
        echo "FINDING in $harness:"
        grep -E 'broken promise|ERROR|SUMMARY|Test unit written' "$log" || tail -n 30 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 | sed -n 's/.*cov: \([0-9]*\) ft: \([0-9]*\).*/\1 edges, \2 features/p')
    units=$(find "$corpus" -type f | wc -l)
    summary="$summary$(printf '%-13s %10s runs in %s s, %s, corpus %s inputs' \
        "$harness" "${runs:-?}" "$seconds" "${coverage:-coverage ?}" "$units")
"
done
echo
printf '%s' "$summary"
[ $status -eq 0 ] && echo "no findings" || echo "findings kept in $findings"
exit $status
