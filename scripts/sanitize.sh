#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# ./build-asan (or $BUILD_DIR) and runs the test suite there. The QEMU rig
# test is left out unless ZEL_SANITIZE_RIG=1: its guest runs the programs
# built for the guest, not these.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir="${BUILD_DIR:-build-asan}"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=ON "${launcher[@]}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
exclude=(-E '^rig\.')
if [ "${ZEL_SANITIZE_RIG:-0}" = 1 ]; then exclude=(); fi
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" "${exclude[@]}"
