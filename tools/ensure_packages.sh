#!/usr/bin/env bash
# Installs the Debian packages the build needs, but only those that are missing.
# Usage: tools/ensure_packages.sh [--tests]
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config)
if [[ "${1:-}" == "--tests" ]]; then
  # Clang builds the suite a second time and builds the fuzz target
  # (libFuzzer comes with Clang's runtime libraries).
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
as_root=()
if [[ "$(id -u)" -ne 0 ]]; then
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
