#!/bin/bash
# The main job on a fresh Debian 12 machine, as root: installs the packages,
# builds the Vulkan library and the example, and compresses a sample file on
# the GPU (Mesa's lavapipe when there is no GPU) and decompresses it back.
#   scripts/quickstart.sh [FILE [LEVEL]]
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kvn_roundtrip
# lavapipe gives the 32-lane subgroups the kernels need only at this vector
# width; the library never sets it.
export LP_NATIVE_VECTOR_WIDTH=1024
./build/examples/kvn_roundtrip "${1:-/usr/share/common-licenses/GPL-3}" "${2:-1}"
