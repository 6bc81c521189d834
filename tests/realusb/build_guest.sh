#!/usr/bin/env bash
# Builds the guest machine of the real-USB-stack tests: Debian 12's kernel
# (its package unpacked, nothing installed), the USB host and gadget modules,
# busybox, systemd-udevd, the built programs with their shared libraries as
# this Debian host has them (Debian's real libusb, never the test library),
# a sample image and the /init that runs the scenarios.
#
#   tests/realusb/build_guest.sh BUILD_DIR OUT_DIR
#
# Writes OUT_DIR/vmlinuz and OUT_DIR/initrd.gz. Downloaded packages are kept
# in OUT_DIR/debs. KVER picks the kernel ABI (default: the one Debian's
# linux-image-amd64 depends on now, since security updates move it).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

if [ -z "${KVER:-}" ]; then
  KVER=$(apt-cache depends linux-image-amd64 |
    awk '/Depends: linux-image-/ { sub("linux-image-", "", $2); print $2; exit }')
fi
[ -n "$KVER" ] || { echo "build_guest: no kernel version (set KVER)" >&2; exit 1; }

# 1. The kernel and udev packages, unpacked into the output folder.
mkdir -p "$out/debs" "$out/pkg"
fetch() { # package name, file glob
  if ! ls "$out/debs/"$2 >/dev/null 2>&1; then
    (cd "$out/debs" && apt-get download -q "$1" >/dev/null 2>&1) ||
      { echo "build_guest: cannot download $1" >&2; exit 1; }
  fi
}
fetch "linux-image-$KVER" "linux-image-${KVER}_*.deb"
fetch udev "udev_*.deb"
if [ ! -f "$out/pkg/boot/vmlinuz-$KVER" ]; then
  dpkg-deb -x "$out/debs/"linux-image-"${KVER}"_*.deb "$out/pkg"
fi
[ -e "$out/pkg/bin/udevadm" ] || dpkg-deb -x "$out/debs/"udev_*.deb "$out/pkg"
cp "$out/pkg/boot/vmlinuz-$KVER" "$out/vmlinuz"

# 2. The root file system.
root=$out/root
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,etc/udev/rules.d,lib/udev/rules.d,lib/systemd,lib64,proc,sys,dev,run,tmp,data,rules}

copy_libs() { # the shared libraries an ELF file needs, from this host
  local missing
  missing=$(ldd "$1" | awk '/not found/ { print $1 }')
  [ -z "$missing" ] || { echo "build_guest: $1 needs $missing" >&2; exit 1; }
  ldd "$1" | awk '/=> \// { print $3 } /^\t\/lib64/ { print $1 }' | while read -r lib; do
    [ -e "$root$lib" ] && continue
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  done
}
install_program() { # file [name]
  install -m 755 "$1" "$root/bin/${2:-$(basename "$1")}"
  copy_libs "$1"
}

install_program "$out/pkg/bin/udevadm"
ln -s /bin/udevadm "$root/lib/systemd/systemd-udevd"
cp "$out/pkg/lib/udev/rules.d/50-udev-default.rules" "$root/lib/udev/rules.d/"
install_program /usr/bin/setpriv
install_program "$build/vboard/vboard-ffs"
install_program "$build/bin/ZelBurner"
install_program "$build/tools/zelflash/zelflash"
install_program "$build/tools/report_listener/zelreport"
install_program "$build/tests/realusb/realusb-discovery"
# The console beside its worker, offscreen, with the Qt plugins it loads.
install_program "$build/bin/Veldmark"
install_program "$build/tools/console_probe/console_probe"
qt_plugins=/usr/lib/x86_64-linux-gnu/qt5/plugins
for plugin in platforms/libqoffscreen.so sqldrivers/libqsqlite.so; do
  install -D -m 644 "$qt_plugins/$plugin" "$root$qt_plugins/$plugin"
  copy_libs "$qt_plugins/$plugin"
done

# The programs must reach Debian's libusb, never the test library.
if ldd "$build/bin/ZelBurner" "$build/tools/zelflash/zelflash" | grep -q "$build"; then
  echo "build_guest: ZelBurner or zelflash resolves a library from the build tree" >&2
  exit 1
fi

# Busybox for the rest; the programs above keep their own names.
cp /bin/busybox "$root/bin/busybox"
for applet in $("$root/bin/busybox" --list); do
  [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done

modules=$out/pkg/lib/modules/$KVER/kernel
for m in drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/gadget/udc/udc-core \
  fs/configfs/configfs drivers/usb/gadget/libcomposite drivers/usb/gadget/function/usb_f_fs \
  drivers/usb/gadget/udc/dummy_hcd; do
  install -D -m 644 "$modules/$m.ko" "$root/lib/modules/$KVER/kernel/$m.ko"
done

cat > "$root/etc/passwd" <<'EOF'
root:x:0:0:root:/root:/bin/sh
operator:x:1000:1000:line operator:/home/operator:/bin/sh
EOF
cat > "$root/etc/group" <<'EOF'
root:x:0:
plugdev:x:46:operator
operator:x:1000:
EOF
cp "$top/packaging/70-veldmark.rules" "$root/rules/"

# 3. A sample image: two loader stages, the environment, two target parts.
parts=$out/parts
rm -rf "$parts"
mkdir -p "$parts"
head -c 24576 /dev/urandom > "$parts/spl.bin"
head -c 196608 /dev/urandom > "$parts/uboot.bin"
head -c $((2 * 1024 * 1024)) /dev/urandom > "$parts/kernel.bin"
head -c $((3 * 1024 * 1024 + 1234)) /dev/urandom > "$parts/rootfs.bin"
cat > "$parts/sample.manifest" <<'EOF'
platform = zk3308
product = zelkora-guest
version = 1.0.8
media_type = emmc
media_number = 0
media_id = mmc0

[fwc]
name = updater.spl
partition = spl
ram = 0x200000
attributes = run
file = spl.bin

[fwc]
name = updater.uboot
partition = uboot
ram = 0x600000
attributes = run
file = uboot.bin

[env]
parts_mmc = 4m(uboot),32m(kernel),-(rootfs)

[fwc]
name = image.target.kernel
partition = kernel
attributes = burn
file = kernel.bin

[fwc]
name = image.target.rootfs
partition = rootfs
attributes = burn
file = rootfs.bin
EOF
"$build/tools/zelimg/zelimg" build -o "$root/data/sample.img" "$parts/sample.manifest" >/dev/null
chmod 644 "$root/data/sample.img"

install -m 755 "$here/init" "$root/init"
install -m 755 "$here/scenarios.sh" "$root/bin/scenarios.sh"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$out/initrd.gz"
echo "build_guest: kernel $KVER, initrd $(du -h "$out/initrd.gz" | cut -f1)"
