#!/usr/bin/env bash
# One idempotent set-up step: installs the missing Debian packages, configures and
# builds. Usage: scripts/setup.sh [BUILD_DIR] [extra cmake arguments...]
# Environment: QUORVANE_PACKAGES_EXTRA adds packages (for example "clang libclang-rt-14-dev").
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
build=${1:-$top/build}
shift || true

mapfile -t packages < <(grep -vE '^\s*(#|$)' "$here/packages.txt")
# shellcheck disable=SC2206
packages+=(${QUORVANE_PACKAGES_EXTRA:-})
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

generator=()
[ -f "$build/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S "$top" -B "$build" "${generator[@]}" "$@"
cmake --build "$build" --parallel "$(nproc)"
