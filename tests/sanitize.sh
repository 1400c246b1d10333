#!/usr/bin/env bash
# Builds the core's host tests in their own tree (build/host-asan) with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs them, together with a
# replay of every fuzzer's seed corpus and regression inputs through the same checks.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=build/host-asan
cmake -S . -B "$tree" -Wno-dev -DCMAKE_BUILD_TYPE=Debug -DSFX_SANITIZE=ON >/dev/null
cmake --build "$tree" -j2 --target core_tests inflate_replay lzma_replay reader_replay resource_replay
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$tree/tests/host/core_tests" --gtest_brief=1
"$tree/fuzz/inflate_replay" fuzz/corpus fuzz/regressions
"$tree/fuzz/lzma_replay" fuzz/lzma-corpus fuzz/lzma-regressions
"$tree/fuzz/reader_replay" fuzz/reader-corpus fuzz/reader-regressions
"$tree/fuzz/resource_replay" fuzz/resource-corpus fuzz/resource-regressions
echo "sanitize: core tests and fuzz corpus replays clean under ASan+UBSan"
