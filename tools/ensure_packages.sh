#!/usr/bin/env bash
# Installs the Debian packages the build needs, but only those that are missing.
# Usage: tools/ensure_packages.sh [--tests]
set -euo pipefail

# GTK 3 with its C++ binding draws and shows the plots, libdeflate compresses
# their PNG files; a font for their text;
# Boost.Math (headers) for the t and F distributions; OpenSSL's libcrypto for
# the SHA-256 checksums of the input files; CLI11 parses the options of
# `kelvora fit`, nlohmann-json writes the JSON results.
packages=(cmake ninja-build g++ pkg-config libgtkmm-3.0-dev libx11-dev libdeflate-dev fonts-dejavu-core
  libboost-dev libssl-dev libcli11-dev nlohmann-json3-dev)
if [[ "${1:-}" == "--tests" ]]; then
  # Clang builds the suite a second time and builds the fuzz target
  # (libFuzzer comes with Clang's runtime libraries).
  # The plot window's tests run on a virtual X server.
  packages+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev xvfb xauth)
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
