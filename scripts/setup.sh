#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 or Ubuntu machine:
# compilers, CMake, GoogleTest, Google Benchmark, the command-line host's audio
# libraries, FFTW (benchmarks only), the LV2 headers and the LV2 tools the
# bundles are checked with (lv2_validate, sordi, lilv, ffmpeg, and jalv on a
# JACK server with the dummy driver), GNU parallel for
# the batch-render recipe, and MinGW-w64 plus wine for the Windows DLLs.
# Usage: scripts/setup.sh [--linux-only]
set -euo pipefail

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi

packages=(
    build-essential cmake ninja-build pkg-config git python3 clang
    libgtest-dev libbenchmark-dev
    libsndfile1-dev libebur128-dev libcli11-dev libfftw3-dev
    lv2-dev lv2-examples sordi lilv-utils liblilv-dev ffmpeg parallel jalv jackd2
)
windows_packages=(
    mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
    wine wine64 wine32:i386
)

want=("${packages[@]}")
if [ "${1:-}" != "--linux-only" ]; then
    want+=("${windows_packages[@]}")
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
fi

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
