#!/usr/bin/env bash
# Builds the Linux plug-ins and the command-line host, then runs the demo:
# a synthesised 20-second mix rendered through the multiband plug-in.
# Usage: scripts/demo.sh [OUTPUT_DIR]   (default: demo/)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -G Ninja -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target orvex MultibandOrvexMaximizer Orvex_Maximizer
build/orvex demo "${1:-demo}"
