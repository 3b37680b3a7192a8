#!/usr/bin/env bash
# Installs the Debian packages that building and testing morvex need, when any is missing.
set -euo pipefail
packages=(build-essential cmake pkg-config libzip-dev zlib1g-dev libisal-dev libfast-float-dev
          python3-dev python3-pytest libgtest-dev
          python3-setuptools python3-wheel python3-venv python3-pip python3-mypy python3-matplotlib
          patchelf python3-tqdm python3-distributed)
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
