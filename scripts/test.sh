#!/bin/bash
# Configure, build and run every test; then once more with AddressSanitizer,
# LeakSanitizer and UBSan (KVN_SANITIZE). Used by the README and by CI.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure -j"$(nproc)")

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVN_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$(nproc)"
(cd build-sanitize && ctest --output-on-failure -j"$(nproc)")
