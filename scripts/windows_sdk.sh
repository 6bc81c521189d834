#!/usr/bin/env bash
# Builds the Windows SDK the cross build links against, from Debian's own
# source packages: libusb (its Windows backend), the SQLite amalgamation and a
# static qtbase with only what the programs use. The result lives outside the
# tree, keyed by the source versions, and is reused while it is complete.
#   scripts/windows_sdk.sh            prints the SDK prefix, building it if missing
#   scripts/windows_sdk.sh --refresh  looks for newer source versions first
# VELDMARK_SDK_ROOT overrides /var/cache/veldmark-sdk.
set -euo pipefail

root=${VELDMARK_SDK_ROOT:-/var/cache/veldmark-sdk}
jobs=${SDK_JOBS:-2}
refresh=0
[ "${1:-}" = --refresh ] && refresh=1

say() { echo "windows_sdk: $*" >&2; }

# A finished SDK carries a stamp; "current" names the one the build uses, so a
# rebuild of the programs needs no network.
if [ $refresh -eq 0 ] && [ -f "$root/current/.complete" ]; then
  readlink -f "$root/current"
  exit 0
fi

mkdir -p "$root"
exec 9>"$root/.lock"
flock 9   # two builds at once would share one scratch folder

# A private apt configuration with deb-src entries for this machine's suite;
# the machine's own sources stay untouched.
. /etc/os-release
suite=${VERSION_CODENAME:?no Debian codename in /etc/os-release}
aptdir=$root/apt
mkdir -p "$aptdir/sources" "$aptdir/lists/partial" "$aptdir/cache/archives/partial"
cat >"$aptdir/sources/deb-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$aptdir/sources"
          -o Dir::State::Lists="$aptdir/lists" -o Dir::Cache="$aptdir/cache"
          -o Debug::NoLocking=1)
say "reading the source index"
apt-get "${apt_opts[@]}" -qq update >/dev/null

srcver() {  # newest source version of a package in the private index
  apt-cache "${apt_opts[@]}" showsrc "$1" | sed -n 's/^Version: //p' | sort -V | tail -1
}
qt_ver=$(srcver qtbase-opensource-src)
usb_ver=$(srcver libusb-1.0)
sql_ver=$(srcver sqlite3)
gcc_ver=$(x86_64-w64-mingw32-g++-posix -dumpversion)
key="qtbase-${qt_ver}_libusb-${usb_ver}_sqlite-${sql_ver}_mingw-${gcc_ver}"
key=${key//[:+~]/-}
prefix=$root/$key

if [ -f "$prefix/.complete" ]; then
  ln -sfn "$key" "$root/current"
  echo "$prefix"
  exit 0
fi

# An interrupted build goes on where it stopped: each finished step leaves a
# mark in the scratch folder.
work=$root/work-$key
mkdir -p "$work/src" "$work/build"
finished() { [ -f "$work/.done-$1" ]; }
finish() { touch "$work/.done-$1"; }
[ -f "$work/.started" ] || date +%s >"$work/.started"
start=$(cat "$work/.started")
echo $(( $(cat "$work/.runs" 2>/dev/null || echo 0) + 1 )) >"$work/.runs"

fetch() {  # fetch NAME VERSION: downloads and unpacks a source package into $work/src/NAME
  (cd "$work/src" && apt-get "${apt_opts[@]}" -qq source --download-only "$1=$2" >/dev/null &&
   dpkg-source -x "$(ls -1 ./*.dsc | grep -F "${1}_" | head -1)" "$1" >/dev/null)
}

if ! finished libusb; then
say "libusb $usb_ver"
rm -rf "$work/src/libusb-1.0" "$work/build/libusb" "$prefix/libusb"
fetch libusb-1.0 "$usb_ver"
mkdir -p "$work/build/libusb"
(cd "$work/build/libusb" &&
 nice "$work/src/libusb-1.0/configure" -q --host=x86_64-w64-mingw32 --prefix="$prefix/libusb" \
   --enable-static --enable-shared CC=x86_64-w64-mingw32-gcc-posix >/dev/null &&
 nice make -s -j"$jobs" >/dev/null && make -s install >/dev/null)
# The layout of libusb's own Windows release, which the usual find calls know.
(cd "$prefix/libusb" && mkdir -p MinGW64/dll MinGW64/static &&
 cp bin/libusb-1.0.dll lib/libusb-1.0.dll.a MinGW64/dll/ && cp lib/libusb-1.0.a MinGW64/static/)
finish libusb
fi

if ! finished sqlite; then
say "SQLite $sql_ver amalgamation"
rm -rf "$work/src/sqlite3" "$work/build/sqlite"
fetch sqlite3 "$sql_ver"
mkdir -p "$work/build/sqlite"
(cd "$work/build/sqlite" && nice "$work/src/sqlite3/configure" -q --disable-tcl >/dev/null &&
 nice make -s -j"$jobs" sqlite3.c sqlite3.h sqlite3ext.h >/dev/null)
finish sqlite
fi

if ! finished qt-configure; then
say "qtbase $qt_ver: configure"
rm -rf "$work/src/qtbase-opensource-src" "$work/build/qtbase"
fetch qtbase-opensource-src "$qt_ver"
# Debian's qtbase has its bundled SQLite removed; QSQLITE builds from the amalgamation.
mkdir -p "$work/src/qtbase-opensource-src/src/3rdparty/sqlite"
cp "$work/build/sqlite/sqlite3.c" "$work/build/sqlite/sqlite3.h" "$work/build/sqlite/sqlite3ext.h" \
   "$work/src/qtbase-opensource-src/src/3rdparty/sqlite/"
mkdir -p "$work/build/qtbase"
# Only Core, Gui, Widgets, Sql (SQLite), Network and the windows platform plugin
# are used. Debian's tarball lacks the wintab header, hence no tablet events.
# MAKEFLAGS: configure builds qmake with plain make.
(cd "$work/build/qtbase" &&
 MAKEFLAGS=-j$jobs nice "$work/src/qtbase-opensource-src/configure" \
   -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
   -prefix "$prefix/qt" \
   -opensource -confirm-license -release -static -static-runtime \
   -nomake examples -nomake tests -silent \
   -no-opengl -no-dbus -no-icu -no-openssl -no-vulkan -no-direct2d -no-angle \
   -qt-zlib -qt-libpng -qt-freetype -qt-harfbuzz -qt-pcre -no-libjpeg -no-gif \
   -sql-sqlite -qt-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -no-sql-db2 \
   -no-sql-ibase -no-sql-oci -no-sql-tds -no-sql-sqlite2 \
   -no-feature-concurrent -no-feature-xml -no-feature-printer \
   -no-feature-bearermanagement -no-feature-tabletevent >"$work/qt-configure.log" 2>&1 ||
   { tail -30 "$work/qt-configure.log" >&2; exit 1; })
finish qt-configure
fi
say "qtbase $qt_ver: build (the longest step)"
(cd "$work/build/qtbase" &&
 nice make -s -j"$jobs" >>"$work/qt-build.log" 2>&1 || { tail -30 "$work/qt-build.log" >&2; exit 1; }
 make -s install >/dev/null)

secs=$(( $(date +%s) - start ))
# CPU time of every step, for a comparison with other machines.
times >"$work/times"
cpu=$(tail -1 "$work/times" | awk '{ split($1, u, "m"); split($2, s, "m"); printf "%d", u[1] + s[1] }')
printf 'built %s in %d min %d s (%s CPU-min in the last of %s runs) with -j%s, load %s\n' \
  "$(date -u +%FT%TZ)" $((secs / 60)) $((secs % 60)) "$cpu" "$(cat "$work/.runs")" "$jobs" \
  "$(cut -d' ' -f1-3 /proc/loadavg)" >"$prefix/.complete"
rm -rf "$work"
ln -sfn "$key" "$root/current"
say "done in $((secs / 60)) min $((secs % 60)) s: $prefix"
echo "$prefix"
