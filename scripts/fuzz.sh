#!/usr/bin/env bash
# Fuzzes the plug-in with the libFuzzer targets of tests/fuzz, as the native-asan preset builds
# them (clang, AddressSanitizer, UndefinedBehaviorSanitizer).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      each target (default: all) for SECONDS (default
#                                              600), growing its corpus under build/
#   scripts/fuzz.sh --ci SECONDS [TARGET...]   the short run of scripts/test.sh: from a fresh
#                                              copy of the seeds, with a fixed seed and a fixed
#                                              number of inputs, SECONDS at most
#
# Targets: scene (scene files), numbers (the locale's number conversions), description (the
# description cut), events (whole events against the in-memory host), trace (traces read,
# replayed and made into scenes), zip (support bundles read, written again and read back).
#
# Each target works in build/native-asan/fuzz/TARGET (build/native-asan/fuzz-ci/TARGET with
# --ci): corpus/ grows from the seeds in tests/fuzz/corpus/TARGET, which are only read; an input
# that crashes, leaks, hangs or runs out of memory goes to findings/, and the run fails and names
# it. Replay one with: build/native-asan/tests/fuzz/fuzz_TARGET FILE
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(scene numbers description events trace zip)
# The --ci run's length in inputs, about 30 s each on the CI machine. With the seed fixed and
# address randomization off the same inputs run every time (the sanitizers' checks branch on
# addresses, which would steer the fuzzer elsewhere), so a run that passed passes again; a
# slower machine stops at the time limit, earlier in the same sequence.
declare -A ci_runs=([scene]=150000 [numbers]=1000000 [description]=1000000 [events]=40000
    [trace]=10000 [zip]=150000)

ci=0
if [ "${1:-}" = "--ci" ]; then
    ci=1
    shift
fi
seconds=600
if [ $# -gt 0 ]; then
    seconds=$1
    shift
fi
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
    echo "usage: scripts/fuzz.sh [--ci] [SECONDS] [TARGET...]; targets: ${all_targets[*]}" >&2
    exit 2
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
    if [ -z "${ci_runs[$t]:-}" ]; then
        echo "unknown fuzz target \"$t\"; targets: ${all_targets[*]}" >&2
        exit 2
    fi
done

if [ $ci -eq 0 ]; then
    bash scripts/install-deps.sh
fi
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan --target "${targets[@]/#/fuzz_}"

# The sanitizer keeps every distinct allocation stack for good; events nested in ever new ways
# make ever new full-depth stacks, which would grow a long run past the memory limit. Ten frames
# of allocation context keep that bounded and the reports readable.
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:malloc_context_size=10
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

bin=build/native-asan/tests/fuzz
fixed_addresses=(setarch "$(uname -m)" -R)
"${fixed_addresses[@]}" true 2>/dev/null || fixed_addresses=()
status=0
for t in "${targets[@]}"; do
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
    if [ $ci -eq 1 ]; then
        work=build/native-asan/fuzz-ci/$t
        rm -rf "$work"
        mkdir -p "$work"
        cp -r "tests/fuzz/corpus/$t" "$work/corpus"
        options+=(-seed=1 -runs="${ci_runs[$t]}" -reload=0)
        seeds=()
    else
        work=build/native-asan/fuzz/$t
        mkdir -p "$work/corpus"
        seeds=("tests/fuzz/corpus/$t")
    fi
    mkdir -p "$work/findings"
    # Temporary files of the target stay here, also those of a run that crashed.
    export TMPDIR=$PWD/$work/tmp
    rm -rf "$TMPDIR"
    mkdir -p "$TMPDIR"
    if [ -f "tests/fuzz/$t.dict" ]; then
        options+=(-dict="tests/fuzz/$t.dict")
    fi

    echo "-- fuzz_$t: ${seconds} s at most ($work/log)"
    started=$SECONDS
    if "${fixed_addresses[@]}" "$bin/fuzz_$t" "${options[@]}" -artifact_prefix="$work/findings/" "$work/corpus" \
        "${seeds[@]}" >"$work/log" 2>&1; then
        echo "   passed: $(grep -m1 '^Done' "$work/log" || true) ($((SECONDS - started)) s)," \
            "corpus of $(find "$work/corpus" -type f | wc -l) inputs"
    else
        status=1
        echo "   FAILED after $((SECONDS - started)) s:"
        {
            grep -m1 -A1 '^\*\*\* ' "$work/log" || true
            grep -E 'runtime error|ERROR: (Address|Leak)Sanitizer|ERROR: libFuzzer|^SUMMARY' \
                "$work/log" | head -n 4 || true
        } | cut -c1-300 | sed 's/^/   /'
        input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$work/log" | tail -n 1)
        echo "   input: ${input:-(none written; see the log)}"
        [ -z "$input" ] || echo "   replay: $bin/fuzz_$t $input"
    fi
done
exit $status
