#!/bin/bash
# Configure, build and run every test; then once more with AddressSanitizer,
# LeakSanitizer and UBSan (KVN_SANITIZE). Used by the README and by CI.
set -euo pipefail
cd "$(dirname "$0")/.."
# Both builds share one shader cache: the sanitizer run's lavapipe pipelines
# then come compiled from the first run.
cache="$PWD/build/mesa_shader_cache"
# Real files from Debian packages for the corpus round trip (test_corpus).
corpus="$PWD/build/corpus"
# AUTO builds the CUDA library when the CUDA toolkit is there; CI asks for ON.
cuda="${KVN_CUDA:-AUTO}"
[ -s "$corpus/MANIFEST" ] || bash scripts/make-corpus.sh "$corpus" >/dev/null
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVN_SHADER_CACHE_DIR="$cache" \
  -DKVN_CORPUS_DIR="$corpus" -DKVN_CUDA="$cuda" >/dev/null
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure -j"$(nproc)")

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVN_SANITIZE=ON \
  -DKVN_SHADER_CACHE_DIR="$cache" -DKVN_CORPUS_DIR="$corpus" -DKVN_CUDA="$cuda" >/dev/null
cmake --build build-sanitize -j"$(nproc)"
# The validation-layer variants and the CUDA stand-in's lazy variants run the
# same host code as their plain twins (under the layer, or with queued work
# run later); the first build runs them, so the sanitizers skip them.
(cd build-sanitize && ctest --output-on-failure -j"$(nproc)" -E '^(validation|cuda\.lazy)\.')
