#!/usr/bin/env bash
# Builds everything and runs every test. Tests need no display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBOXTOOL_BUILD_TESTS=ON >/dev/null
cmake --build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure

# The real window in an X server of its own, driven by a real pointer.
bash scripts/e2e.sh

# The whole suite again, built with the address and undefined-behaviour sanitizers. Only
# Qt's own leaks are suppressed (scripts/lsan.supp); any other finding fails its test.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBOXTOOL_BUILD_TESTS=ON \
    -DBOXTOOL_SANITIZE=ON >/dev/null
cmake --build build-asan -j2
ASAN_OPTIONS=detect_leaks=1:malloc_context_size=2 \
    LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure

# A bounded fuzz run of the response assembler and the tuning-file loader (clang's libFuzzer).
bash scripts/deps.sh clang-14 libclang-rt-14-dev
bash scripts/fuzz.sh

# The monkey (scripts/monkey.sh): random real input into the sanitizer build of the tool on a
# desktop of its own, with a box that goes away and comes back. A fixed seed, then one from
# the clock (printed, so that a failure can be run again), then every kept run.
bash scripts/monkey.sh --seconds 120 --seed 1
bash scripts/monkey.sh --seconds 60 --seed "$(date +%s)"
for kept in monkey/cases/*.txt; do
    [ -e "$kept" ] || continue
    bash scripts/monkey.sh --replay "$kept"
done
