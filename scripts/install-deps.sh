#!/usr/bin/env bash
# Installs every Debian package that the builds and the tests need.
# Idempotent: packages already present are left as they are.
set -euo pipefail

PACKAGES=(
  # Host build and tests
  build-essential cmake ninja-build git
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libcli11-dev
  # Target build: clang cross-compiles, lld-link links, llvm-readobj checks,
  # python3 packs the firmware file
  clang lld llvm python3
  # Independent clients of what the driver produces
  dmidecode
  uefitool-cli
  libefivar-dev
  # Fuzzing runtime for clang
  libclang-rt-14-dev
  # Benchmarks and instruction counts
  libbenchmark-dev valgrind
  # The manual page's check renders it; the Debian package is built and checked
  groff lintian
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
echo "install-deps: installed ${missing[*]}"
