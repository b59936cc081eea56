#!/bin/bash
# The Debian 12 packages the build and the tests need; run as root.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ pkg-config \
  libgtest-dev googletest \
  libxxhash-dev \
  glslc spirv-tools libvulkan-dev mesa-vulkan-drivers vulkan-validationlayers \
  libboost-context-dev \
  "$@" \
  >/dev/null
