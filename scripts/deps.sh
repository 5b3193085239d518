#!/usr/bin/env bash
# Installs the Debian packages a task needs, when any is missing.
#   scripts/deps.sh         what the library, its tests and the examples need
#   scripts/deps.sh bench   that, plus the peers the benchmarks compare against
#   scripts/deps.sh ref     that, plus what the scripts/gen_*.py reference generators import
# Run as root on a fresh Debian 12 machine; elsewhere it only reports.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config zlib1g-dev libexpat1-dev
          libgtest-dev libgmock-dev libbenchmark-dev python3 python3-numpy)
for set in "$@"; do
  case "$set" in
    bench) packages+=(libopencv-dev) ;;
    ref) packages+=(python3-scipy python3-pywt python3-mpmath) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "unknown package set: $set" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "missing Debian packages (run as root to install): ${missing[*]}" >&2
  exit 1
fi
