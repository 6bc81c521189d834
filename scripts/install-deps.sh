#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs. Idempotent: quiet and
# quick when all is there.
#   scripts/install-deps.sh           everything: build, test, fuzz, benchmark, demo
#   scripts/install-deps.sh package   only what building and checking the package needs
set -euo pipefail

build=(
  build-essential cmake ninja-build pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite
  libusb-1.0-0-dev zlib1g-dev libpq-dev postgresql
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-font-awesome fonts-droid-fallback
)
package=(dpkg-dev help2man lintian devscripts appstream desktop-file-utils)
everything=(
  xvfb xauth
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 libwine fonts-wine locales
  dpkg-dev tcl nsis x11-utils
  qemu-system-x86 busybox-static cpio
)
packages=("${build[@]}" "${package[@]}")
[ "${1:-}" = package ] || packages+=("${everything[@]}")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# The Windows tests run wine in a Chinese locale (ANSI code page 936).
if [ "${1:-}" != package ]; then
  locale -a 2>/dev/null | grep -qx 'zh_CN.utf8' || need_locale=1
fi
[ ${#missing[@]} -eq 0 ] && [ -z "${need_locale:-}" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}) or the zh_CN.UTF-8 locale; run as root to install them" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}" >&2
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ -n "${need_locale:-}" ]; then
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -qx 'zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
