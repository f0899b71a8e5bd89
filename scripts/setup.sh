#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, only where missing.
# Safe to run again: it asks apt only for packages that are not installed yet.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libboost-dev libboost-log-dev libboost-date-time-dev libboost-thread-dev
  libboost-filesystem-dev libboost-system-dev
  uuid-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  hyperfine
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if ! command -v dotnet >/dev/null 2>&1; then
  echo "setup: the dotnet SDK is required on PATH" >&2
  exit 1
fi
