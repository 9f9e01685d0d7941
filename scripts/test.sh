#!/usr/bin/env bash
# Set-up (packages, configure, build), then every test with output on failure.
# Usage: scripts/test.sh [ctest arguments...], for example scripts/test.sh -L unit
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUORVANE_BUILD_DIR:-$top/build}
"$top/scripts/setup.sh" "$build" -DQUORVANE_WERROR=ON
cd "$build"
ctest --output-on-failure --no-tests=error --parallel "$(nproc)" "$@"
