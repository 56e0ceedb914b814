#!/usr/bin/env bash
# Runs every fuzz target of fuzz/text_targets.py for a bounded time, twice:
#   1. on the installed extension modules, guided by the coverage of the
#      Python side (generator and oracles), growing a corpus per target;
#   2. on the modules built with AddressSanitizer and UBSan (SANITIZED_STAGE,
#      see `make fuzz`), starting from that corpus.  libasan must be preloaded
#      into the interpreter, and then supplies the coverage hooks itself, so
#      this phase mutates blindly: the corpus of phase 1 is what steers it.
#      The TypeErrors some inputs must raise are C++ throws inside the module,
#      so the error paths run under the sanitizers too.
#
#   fuzz/run.sh SECONDS SANITIZED_STAGE
set -euo pipefail

seconds=${1:?seconds per phase}
stage=${2:?folder holding the sanitized quillon package}
python=${PYTHON:-python3}
here=$(cd "$(dirname "$0")" && pwd)
work=${FUZZ_WORK:-$here/../build/fuzz}
# libstdc++ is preloaded too: the interpreter does not link it, and ASan's
# interceptor of C++ throws can only find the real one if it is there first.
preload="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libstdc++.so)"
mkdir -p "$work/artifacts"

run() {  # run <label> <log> <command...>
    local label=$1 log=$2
    shift 2
    local start=$SECONDS
    if ! "$@" >"$log" 2>&1; then
        echo "FAILED: $label (log: $log)"
        tail -n 60 "$log"
        return 1
    fi
    echo "$label: $(grep -E '^Done [0-9]+ runs' "$log" | tail -n 1) [$((SECONDS - start)) s]"
}

for target in $("$python" "$here/text_targets.py" --list 2>/dev/null); do
    corpus="$work/corpus/$target"
    mkdir -p "$corpus"
    options=(-max_total_time="$seconds" -max_len=2048 -artifact_prefix="$work/artifacts/$target-")
    run "$target, guided" "$work/$target.guided.log" \
        "$python" "$here/text_targets.py" "$target" "$corpus" "${options[@]}"
    run "$target, ASan/UBSan" "$work/$target.sanitized.log" \
        env PYTHONPATH="$stage" LD_PRELOAD="$preload" PYTHONMALLOC=malloc \
        ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$python" "$here/text_targets.py" "$target" "$corpus" "${options[@]}"
done
