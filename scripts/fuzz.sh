#!/bin/bash
# Builds the libFuzzer targets of tests/fuzz/ (clang, ASan and UBSan) in
# build-fuzz/ and runs them from the seed corpus in tests/fuzz/seeds/.
#   scripts/fuzz.sh [SECONDS]               every target for SECONDS (default 60), two at a time
#   scripts/fuzz.sh run TARGET SECONDS      one target
#   scripts/fuzz.sh replay TARGET FILE...   the target once on each file: replays a crash
# Each run keeps its corpus in build-fuzz/fuzz_corpus/TARGET, its log in
# build-fuzz/fuzz_TARGET.log (last line: user and system CPU seconds) and
# what it finds in build-fuzz/fuzz_artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-fuzz
targets=(frame_parse wrt huffman_decode lz_decode frame_kernels)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVN_FUZZ=ON \
  -DKVN_CUDA=OFF >/dev/null
cmake --build "$build" --target kvn_fuzzers >/dev/null

# The three targets that read frames share one seed folder.
seeds() {
  case "$1" in
    frame_parse | lz_decode | frame_kernels) echo tests/fuzz/seeds/frames ;;
    *) echo "tests/fuzz/seeds/$1" ;;
  esac
}

run() {
  local target=$1 seconds=$2 log="$build/fuzz_$1.log"
  mkdir -p "$build/fuzz_corpus/$target" "$build/fuzz_artifacts"
  if ! /usr/bin/time -a -o "$log.cpu" -f "cpu seconds: %U user %S system" \
      nice -n 19 "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2560 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz_artifacts/$target-" \
      "$build/fuzz_corpus/$target" "$(seeds "$target")" >"$log" 2>&1; then
    grep -v '^#\|^INFO' "$log" | tail -n 40
    echo "fuzz_$target found a fault: scripts/fuzz.sh replay $target $build/fuzz_artifacts/$target-*" >&2
    return 1
  fi
  echo "fuzz_$target: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log"), $(tail -n 1 "$log.cpu")"
}

case "${1:-}" in
  replay)
    target=$2
    shift 2
    "$build/tests/fuzz/fuzz_$target" -runs=1 "$@"
    ;;
  run) run "$2" "$3" ;;
  *)
    seconds=${1:-60}
    status=0
    running=0
    for target in "${targets[@]}"; do
      if [ "$running" -ge 2 ]; then
        wait -n || status=1
        running=$((running - 1))
      fi
      run "$target" "$seconds" &
      running=$((running + 1))
    done
    while [ "$running" -gt 0 ]; do
      wait -n || status=1
      running=$((running - 1))
    done
    exit "$status"
    ;;
esac
