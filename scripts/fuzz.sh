#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and runs each for SECONDS (default 20) on a copy of its seed corpus, so the corpus
# checked in never grows. Fails when any target crashes, hangs, runs out of memory or finds a
# property broken; the inputs that did it are kept in build/fuzz/findings/<target>/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# The runs start from the seed FUZZ_SEED (default 1), so a run repeats the one before it;
# FUZZ_SEED=0 draws a new seed each time, for longer campaigns.
# Reproduce a finding: build/fuzz/fuzz/<target> build/fuzz/findings/<target>/<file>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift $(( $# > 0 ? 1 : 0 ))
case "$seconds" in
    '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2 ;;
esac

all=(
    fuzz_settings_file
    fuzz_recorder_config
    fuzz_response_files
    fuzz_request_lines
    fuzz_pop3_dialogue
    fuzz_imap_dialogue
    fuzz_smtp_dialogue
    fuzz_base64
    fuzz_mime_composer
    fuzz_mime_reader
    fuzz_parse_limits
)
if [ $# -gt 0 ]; then
    targets=("$@")
else
    targets=("${all[@]}")
fi

build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWICK_FUZZ=ON -DTARNWICK_GUI=OFF -DTARNWICK_SANITIZE=OFF -DTARNWICK_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tarnwick_fuzzers

# Scratch files of the targets go to a tmpfs where there is one: the spool syncs every entry.
scratch_parent=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_parent=/dev/shm
work=$(mktemp -d "$scratch_parent/tarnwick-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
findings="$build/findings"
failed=()
for target in "${targets[@]}"; do
    if [ ! -d "fuzz/corpus/$target" ]; then
        echo "no such fuzz target: $target" >&2
        exit 2
    fi
    dir="$work/$target"
    mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
    cp fuzz/corpus/"$target"/* "$dir/corpus/"
    options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$dir/artifacts/" -seed="${FUZZ_SEED:-1}")
    [ -f "fuzz/dict/$target.dict" ] && options+=(-dict="fuzz/dict/$target.dict")
    # A target's own options (its memory limits, say) come last and so win.
    [ -f "fuzz/options/$target" ] && read -r -a own <"fuzz/options/$target" && options+=("${own[@]}")
    echo "== $target: ${seconds}s"
    if TMPDIR="$dir/tmp" "$build/fuzz/$target" "${options[@]}" "$dir/corpus" >"$dir/log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units' "$dir/log" || true
    else
        failed+=("$target")
        tail -n 60 "$dir/log"
        mkdir -p "$findings/$target"
        cp "$dir"/artifacts/* "$findings/$target/" 2>/dev/null || true
        cp "$dir/log" "$findings/$target/log"
        echo "!! $target failed; inputs and log in $findings/$target/"
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "Fuzz targets that failed: ${failed[*]}"
    exit 1
fi
echo "All ${#targets[@]} fuzz targets ran ${seconds}s without a failure."
