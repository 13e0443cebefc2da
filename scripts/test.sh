#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (what CI runs).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
install_deps
build_all
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 900 </dev/null
