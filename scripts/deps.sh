#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libboost-dev libboost-math-dev libgtest-dev libgmock-dev
          libbenchmark-dev libffi-dev libcli11-dev nlohmann-json3-dev
          liborcus-dev libxlsxwriter-dev libcairo2-dev python3-xlsxwriter python3-openpyxl libreoffice-calc-nogui
          clang-14 libclang-rt-14-dev
          g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
