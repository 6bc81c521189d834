#!/usr/bin/env bash
# Builds the Debian packages from the normal build, without root:
#   build/veldmark_<version>_<arch>.deb         the programs, launcher, menu entry,
#                                               udev rule, metadata and manual pages
#   build/veldmark-dbgsym_<version>_<arch>.deb  their detached debug symbols
# Every time in them is the last commit's (SOURCE_DATE_EPOCH), so the same
# sources give the same bytes.
#   scripts/package.sh          build the packages
#   scripts/package.sh --check  and prove them: the changelog names the project
#       version; a second build from clean outputs gives identical packages;
#       lintian --pedantic (info tags too) finds nothing;
#       every program is hardened; the AppStream metadata and the menu entry
#       are valid; the manual pages are there; the fonts come from their
#       packages; and the installed console burns virtual boards.
# Runs as any user; root only to install missing packages.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
check=false
[ "${1:-}" = --check ] && check=true

scripts/install-deps.sh package
umask 022
export LC_ALL=C.UTF-8 TZ=UTC
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
    { echo "package.sh: no last commit to date the package by; set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

fail() { echo "package check: $*" >&2; exit 1; }
scratch=$(mktemp -d)
farm=$top/build/vboard/vboard-farm
cleanup() {
  [ -n "${console:-}" ] && kill "$console" 2>/dev/null
  [ -n "${ZEL_VBOARD_FARM:-}" ] && "$farm" stop >/dev/null 2>&1
  rm -rf "$scratch"
}
trap cleanup EXIT

shipped=(Veldmark ZelBurner zelimg zelflash zelline veldmark_manpages veldmark_changelog)
tools=(vboard-farm vusb console_probe)
build() {
  # The generated headers take the sources' time from the configure step.
  if [ -f build/build.ninja ] && ! cmake build >"$scratch/configure.out" 2>&1; then
    cat "$scratch/configure.out" >&2
    exit 1
  fi
  scripts/build.sh normal "${shipped[@]}" "$@" >/dev/null
}

# Stages the installed tree into $1 and writes the two packages into build/.
make_packages() {
  local out=$1 stage=$1/veldmark dbg=$1/veldmark-dbgsym
  rm -rf "$out" && mkdir -p "$stage/DEBIAN" "$dbg/DEBIAN"
  DESTDIR=$stage cmake --install build --prefix /usr >/dev/null

  # Debug symbols go to the -dbgsym package under their build id, where
  # debuggers look; the programs keep a link to them.
  local elfs=() ids=() f id
  while IFS= read -r f; do
    readelf -h "$f" >/dev/null 2>&1 && elfs+=("$f")
  done < <(find "$stage" -type f | sort)
  [ ${#elfs[@]} -gt 0 ] || fail "no program was installed"
  for f in "${elfs[@]}"; do
    id=$(readelf -n "$f" | sed -n 's/^ *Build ID: //p')
    [ -n "$id" ] || fail "${f#"$stage"} has no build id"
    ids+=("$id")
    mkdir -p "$dbg/usr/lib/debug/.build-id/${id:0:2}"
    local debug=$dbg/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    objcopy --only-keep-debug --compress-debug-sections "$f" "$debug"
    chmod 0644 "$debug"
    strip --remove-section=.comment --remove-section=.note --strip-unneeded "$f"
    objcopy --add-gnu-debuglink="$debug" "$f"
  done

  # Its documentation is that of the programs it belongs to (same source,
  # exact version), as with Debian's own -dbgsym packages.
  mkdir -p "$dbg/usr/share/doc"
  ln -s veldmark "$dbg/usr/share/doc/veldmark-dbgsym"

  # Library dependencies as dpkg-shlibdeps finds them; the SQLite driver is a
  # Qt plugin and the fonts are files read at run time, which no linker sees.
  mkdir -p "$out/shlibs/debian"
  printf 'Source: veldmark\n\nPackage: veldmark\nArchitecture: any\n' > "$out/shlibs/debian/control"
  local shlibs
  shlibs=$(cd "$out/shlibs" && dpkg-shlibdeps -O "${elfs[@]}" 2>"$out/shlibdeps.err") ||
    { cat "$out/shlibdeps.err" >&2; fail "dpkg-shlibdeps failed"; }
  shlibs=${shlibs#shlibs:Depends=}

  local arch
  arch=$(dpkg --print-architecture)
  write_control "$stage" veldmark "$arch" \
    "Depends: $shlibs, libqt5sql5-sqlite, fonts-droid-fallback, fonts-font-awesome
Section: electronics
Description: burns firmware into many boards at once over USB
 Veldmark is a production-line console: every board plugged in, in its USB
 upgrade mode, is bound to a slot of a grid by its USB port and burned at once
 by its own ZelBurner worker, with progress, counters, a log per burn and a
 history of every burn. Boards present when the console starts and boards
 plugged in later are both burned.
 .
 The package also ships the image tool zelimg, the command-line burner
 zelflash for one board, and a udev rule that lets the logged-in user and the
 plugdev group reach boards in burn mode without root."
  write_control "$dbg" veldmark-dbgsym "$arch" \
    "Source: veldmark
Depends: veldmark (= $version)
Section: debug
Auto-Built-Package: debug-symbols
Build-Ids: ${ids[*]}
Description: debug symbols for veldmark"

  for pkg in "$stage" "$dbg"; do
    find "$pkg" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    dpkg-deb --root-owner-group -Zxz --build "$pkg" "$top/build" >/dev/null
  done
}

# write_control TREE PACKAGE ARCH FIELDS: the control file and the checksums.
write_control() {
  local tree=$1 size
  size=$(du -sk --apparent-size --exclude=DEBIAN "$tree" | cut -f1)
  cat > "$tree/DEBIAN/control" <<EOF
Package: $2
Version: $version
Architecture: $3
Maintainer: Veldmark developers <veldmark@zelkora.example>
Installed-Size: $size
Priority: optional
Homepage: https://zelkora.example/veldmark
$4
EOF
  (cd "$tree" && find . -type f ! -path './DEBIAN/*' -printf '%P\n' | sort |
     xargs -r -d '\n' md5sum) > "$tree/DEBIAN/md5sums"
  chmod 0644 "$tree/DEBIAN/control" "$tree/DEBIAN/md5sums"
}

if $check; then
  # Both builds compared below start from clean outputs in this environment,
  # whoever built the tree before (another user's compiler cache, say, gives
  # other debug paths).
  [ -f build/build.ninja ] && ninja -C build -t clean "${shipped[@]}" >/dev/null
  build "${tools[@]}"
else
  build
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
arch=$(dpkg --print-architecture)
deb=$top/build/veldmark_${version}_${arch}.deb
dbgdeb=$top/build/veldmark-dbgsym_${version}_${arch}.deb
rm -f build/veldmark_*.deb build/veldmark-dbgsym_*.deb
make_packages "$top/build/package"
echo "package: $deb"
echo "debug symbols: $dbgdeb"
$check || exit 0

echo "== version =="
changelog=$(dpkg-parsechangelog -l packaging/changelog -S Version)
[ "$changelog" = "$version" ] ||
  fail "the changelog's top entry is $changelog, the project version (CMakeLists.txt) $version"
echo "$version in CMakeLists.txt and the changelog"

echo "== reproducible =="
mkdir -p "$scratch/first"
cp "$deb" "$dbgdeb" "$scratch/first/"
# Everything the packages hold is made again: objects, generated sources,
# pictures, manual pages, programs.
ninja -C build -t clean "${shipped[@]}" >/dev/null
build
rm -f "$deb" "$dbgdeb"
make_packages "$top/build/package"
for f in "$deb" "$dbgdeb"; do
  if ! cmp -s "$scratch/first/${f##*/}" "$f"; then
    mkdir -p "$scratch/a" "$scratch/b"
    dpkg-deb -R "$scratch/first/${f##*/}" "$scratch/a"
    dpkg-deb -R "$f" "$scratch/b"
    diff -rq "$scratch/a" "$scratch/b" >&2 || true
    fail "${f##*/} differs between two builds of the same sources"
  fi
done
echo "two builds, byte-identical packages ($(sha256sum "$deb" | cut -c1-16)...)"

echo "== lintian =="
lintian --pedantic --display-info --fail-on error,warning,info,pedantic --tag-display-limit 0 \
  "$deb" "$dbgdeb" || fail "lintian reports tags"
echo "no tags, none overridden"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -x "$dbgdeb" "$scratch/dbgroot"

echo "== hardening =="
for f in usr/libexec/veldmark/Veldmark usr/libexec/veldmark/ZelBurner usr/bin/zelimg usr/bin/zelflash \
         usr/bin/zelline; do
  [ -x "$root/$f" ] || fail "$f is missing"
  # Control-flow protection (-fcf-protection) is not in this release's
  # dpkg-buildflags; everything else hardening-check requires must be there.
  hardening-check --nocfprotection "$root/$f" >"$scratch/hardening.out" 2>&1 || {
    cat "$scratch/hardening.out"
    fail "$f is not hardened"
  }
  # The debug symbols of exactly this program are in the -dbgsym package.
  id=$(readelf -n "$root/$f" | sed -n 's/^ *Build ID: //p')
  [ -f "$scratch/dbgroot/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" ] ||
    fail "no debug symbols for $f"
  echo "$f: stack protector, fortify, PIE, relro, bind now; symbols in veldmark-dbgsym"
done

echo "== metadata, menu entry, manual pages =="
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/io.zelkora.veldmark.metainfo.xml" ||
  fail "the AppStream metadata is not valid"
desktop-file-validate "$root/usr/share/applications/veldmark.desktop" || fail "bad menu entry"
for page in veldmark zelflash zelimg zelline; do
  man=$root/usr/share/man/man1/$page.1.gz
  [ -f "$man" ] || fail "no manual page for $page"
  zcat "$man" | grep -q "^\.TH ${page^^} \"1\"" || fail "$page.1.gz is no manual page of $page"
  zcat "$man" | grep -qF -- '\-\-version' || fail "$page.1.gz lacks the options"
done
echo "manual pages of veldmark, zelflash, zelimg and zelline"
for f in usr/bin/veldmark usr/lib/udev/rules.d/70-veldmark.rules \
         usr/share/icons/hicolor/48x48/apps/veldmark.png usr/share/doc/veldmark/copyright; do
  [ -e "$root/$f" ] || fail "$f is missing"
done
"$root/usr/bin/zelimg" --help >/dev/null || fail "zelimg --help failed"
"$root/usr/bin/zelflash" --help >/dev/null || fail "zelflash --help failed"
# Without its options the worker ends at once and quietly, as when started by hand.
(cd "$scratch" && "$root/usr/libexec/veldmark/ZelBurner") || fail "ZelBurner does not start"

echo "== fonts from their packages =="
depends=$(dpkg-deb -f "$deb" Depends)
for p in fonts-droid-fallback fonts-font-awesome; do
  [[ "$depends" == *"$p"* ]] || fail "the package does not depend on $p"
done
# A piece from the middle of each font file must not be inside the console.
for font in /usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf \
            /usr/share/fonts/truetype/font-awesome/fontawesome-webfont.ttf; do
  perl -e 'local $/; open my $f, "<:raw", $ARGV[0] or die; my $font = <$f>;
           open my $p, "<:raw", $ARGV[1] or die; my $prog = <$p>;
           exit(index($prog, substr($font, length($font) / 2, 256)) >= 0 ? 1 : 0)' \
    "$font" "$root/usr/libexec/veldmark/Veldmark" || fail "the console carries a copy of $font"
done
echo "the console carries neither font"

echo "== the installed console burns =="
# Started as from the menu, from another folder, with boards of a private farm
# reached through the test libusb: it must find the boards plugged in, start
# its installed worker for each and record the burns in the per-user data
# folder, without echoing its log to a standard output that is no terminal.
home=$scratch/home
data=$home/.local/share/veldmark
mkdir -p "$data"
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export ZEL_VBOARD_FARM=$XDG_RUNTIME_DIR/farm.sock
"$farm" start --log "$scratch/farm.log" >/dev/null
. scripts/sample_image.sh
sample_image build/tools/zelimg/zelimg "$scratch/sample.img" $((1024 * 1024)) $((2 * 1024 * 1024))
printf '[common]\nimage_path=%s\n' "$scratch/sample.img" > "$data/Veldmark.ini"
(cd / && exec env -u XDG_DATA_HOME HOME="$home" QT_QPA_PLATFORM=offscreen \
   LD_LIBRARY_PATH="$top/build/vboard/libusb" "$root/usr/bin/veldmark") \
  >"$scratch/console.out" 2>"$scratch/console.err" &
console=$!
probe=build/tools/console_probe/console_probe
for _ in $(seq 100); do
  grep -q "Meta count:" "$data"/log/*/main.log 2>/dev/null && break
  kill -0 "$console" 2>/dev/null || break
  sleep 0.2
done
grep -q "Meta count:" "$data"/log/*/main.log 2>/dev/null ||
  { cat "$scratch/console.err" "$data"/log/*/main.log 2>/dev/null; fail "the console did not start with its image"; }
# Its report socket appears just before it starts watching the bus.
for _ in $(seq 100); do
  [ -n "$(find "$XDG_RUNTIME_DIR" -name 'zel-console-*' 2>/dev/null)" ] && break
  sleep 0.2
done
sleep 1
"$farm" plug board 1:1 >/dev/null
"$farm" plug board 1:2 >/dev/null
for _ in $(seq 150); do
  [ "$("$probe" count "$data")" -ge 2 ] && break
  sleep 0.2
done
"$probe" summary "$data" || { cat "$data"/log/*/main.log; fail "the installed console did not burn both boards"; }
if grep -q "Failed to load the FontAwesome font\|No font family" "$data"/log/*/main.log; then
  fail "the console could not load its fonts"
fi
[ ! -s "$scratch/console.out" ] || { cat "$scratch/console.out"; fail "the console echoed its log to a standard output that is no terminal"; }
kill "$console"
wait "$console" 2>/dev/null || true
console=
echo "package check: passed"
