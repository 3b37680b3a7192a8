#!/usr/bin/env bash
# Installs the Debian packages that building and testing morvex need, when any is missing:
# the compiler, CMake, the C and C++ libraries, and venv and the headers for Debian's own
# python3. Python packages come from PyPI into a virtual environment (scripts/venv.sh).
# Further package names given as arguments are installed too (CI adds clang).
set -euo pipefail
packages=(build-essential cmake pkg-config libzip-dev zlib1g-dev libisal-dev libfast-float-dev
          libgtest-dev python3-dev python3-venv "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
