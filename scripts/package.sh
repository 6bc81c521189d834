#!/usr/bin/env bash
# Builds the Debian package from the normal build: build/veldmark_<version>_<arch>.deb.
#   scripts/package.sh          build the package
#   scripts/package.sh --check  and prove it: lintian without errors, the
#                               programs start from the installed paths, and
#                               it installs and removes cleanly in a scratch root
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-deps.sh
scripts/build.sh normal Veldmark ZelBurner zelimg zelflash veldmark_changelog >/dev/null
rm -f build/veldmark_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls "$top"/build/veldmark_*.deb)
echo "package: $deb"
[ "${1:-}" = --check ] || exit 0

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

echo "== lintian =="
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== installed paths =="
root=$scratch/root
dpkg-deb -x "$deb" "$root"
for f in usr/lib/veldmark/Veldmark usr/lib/veldmark/ZelBurner usr/bin/veldmark usr/bin/zelimg usr/bin/zelflash \
         usr/lib/udev/rules.d/70-veldmark.rules usr/share/applications/veldmark.desktop \
         usr/share/icons/hicolor/48x48/apps/veldmark.png; do
  [ -e "$root/$f" ] || fail "$f is missing"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/veldmark.desktop" || fail "bad menu entry"
fi
"$root/usr/bin/zelimg" --help >/dev/null || fail "zelimg --help failed"
"$root/usr/bin/zelflash" --help >/dev/null || fail "zelflash --help failed"
# Without its options the worker ends at once and quietly, as when started by hand.
(cd "$scratch" && "$root/usr/lib/veldmark/ZelBurner") || fail "ZelBurner does not start"

# Started as from the menu: the console must come up and keep running, and its
# files must land in the per-user data folder.
home=$scratch/home
mkdir -p "$home"
status=0
(cd / && env -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
   timeout 5 "$root/usr/bin/veldmark") >"$scratch/console.out" 2>&1 || status=$?
[ "$status" = 124 ] || { cat "$scratch/console.out"; fail "the console ended with status $status"; }
ls "$home/.local/share/veldmark/log"/*/main*.log >/dev/null 2>&1 ||
  fail "the console wrote no log into ~/.local/share/veldmark"

echo "== install and remove =="
inst=$scratch/inst
mkdir -p "$inst/var/lib/dpkg/info" "$inst/var/lib/dpkg/updates"
touch "$inst/var/lib/dpkg/status"
dpkgr=(dpkg --root="$inst" --log="$scratch/dpkg.log" --force-depends --force-script-chrootless)
# Dependencies are the machine's, not the scratch root's: dpkg is told to go on.
"${dpkgr[@]}" -i "$deb" >"$scratch/dpkg.out" 2>&1 || { cat "$scratch/dpkg.out"; fail "dpkg -i failed"; }
[ -x "$inst/usr/lib/veldmark/ZelBurner" ] || fail "install left no worker"
"${dpkgr[@]}" --purge veldmark >"$scratch/dpkg.out" 2>&1 || { cat "$scratch/dpkg.out"; fail "dpkg --purge failed"; }
left=$(find "$inst" -mindepth 1 \( -path "$inst/var/lib/dpkg" -prune \) -o \( ! -type d -print \))
[ -z "$left" ] || fail "files left after removal: $left"
echo "package check: passed"
