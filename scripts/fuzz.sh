#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into ./build-fuzz and runs each of them.
#
# Usage: scripts/fuzz.sh [RUNS] [TARGET...]
#   RUNS     inputs per target (default 20000)
#   TARGET   fuzz_machine, fuzz_criteria, fuzz_decrypt, fuzz_update_answers (default: all four)
#
# Each target starts from the project's own fixtures as its seed corpus (the
# machine loader also from the hostile files of fuzz/seeds/machine/) and
# keeps what it finds in build-fuzz/corpus/TARGET. A crash leaves the input
# in build-fuzz/crash-TARGET-*; the script then ends with status 1. Run by
# hand, never by CI.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-20000}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_machine fuzz_criteria fuzz_decrypt fuzz_update_answers)

if ! command -v clang++ >/dev/null; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends clang
fi
build_dir=build-fuzz
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_FUZZ=ON \
  "${launcher[@]}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]}"

seeds() {
  case "$1" in
    fuzz_machine) echo fixtures/*.json fuzz/seeds/machine/*.json ;;
    fuzz_criteria) echo fixtures/dvt/*.txt ;;
    fuzz_decrypt) echo fixtures/dvt/*.log ;;
    fuzz_update_answers) echo fuzz/seeds/update/*.txt ;;
  esac
}

status=0
for t in "${targets[@]}"; do
  corpus="$PWD/$build_dir/corpus/$t"
  mkdir -p "$corpus"
  # shellcheck disable=SC2046
  cp -n $(seeds "$t") "$corpus/" 2>/dev/null || true
  echo "== $t: $runs inputs"
  if (cd "$build_dir" && ASAN_OPTIONS=detect_leaks=0 "./bin/$t" -runs="$runs" \
        -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$PWD/crash-$t-" "$corpus" 2>"$t.out"); then
    grep -E '^stat::number_of_executed_units' "$build_dir/$t.out" || true
    echo "$t: clean"
  else
    tail -n 30 "$build_dir/$t.out"
    echo "$t: FAILED (input saved as $build_dir/crash-$t-*)"
    status=1
  fi
done
exit $status
