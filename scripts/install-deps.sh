#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test, fuzz,
# benchmark and run the demo. Idempotent: quiet and quick when all is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite
  libusb-1.0-0-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-font-awesome fonts-droid-fallback
  xvfb xauth
  clang libclang-rt-14-dev
  lintian desktop-file-utils
  qemu-system-x86 busybox-static cpio
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >/dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
