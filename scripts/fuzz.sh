#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time: FUZZ_SECONDS per
# target (60 by default). A crash fails the run and leaves its input in tests/fuzz_cases/
# to commit. Without clang it says so and succeeds.
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cxx" ]; then
    echo "fuzz: no clang++ found, fuzzing skipped"
    exit 0
fi
seconds="${FUZZ_SECONDS:-60}"

cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build build-fuzz -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build-fuzz/fuzz_seeds "$work/seeds"

status=0
for target in assembler tuning_file; do
    corpus="$work/corpus-$target" artifacts="$work/found-$target"
    mkdir -p "$corpus" "$artifacts"
    cp "$work/seeds/$target"/* "$corpus"/
    find "tests/fuzz_cases/$target" -maxdepth 1 -type f ! -name '.*' ! -name '*.md' \
        -exec cp {} "$corpus"/ \;
    echo "fuzz: $target for ${seconds}s"
    if UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 "build-fuzz/fuzz_$target" "$corpus" \
        -max_total_time="$seconds" -timeout=10 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" >"$work/$target.log" 2>&1; then
        grep -E '^stat::number_of_executed_units|^Done' "$work/$target.log" || true
    else
        tail -n 60 "$work/$target.log"
        for found in "$artifacts"/*; do
            [ -e "$found" ] || continue
            cp "$found" "tests/fuzz_cases/$target/"
            echo "fuzz: kept tests/fuzz_cases/$target/$(basename "$found") - commit it with the fix"
        done
        status=1
    fi
done
exit $status
