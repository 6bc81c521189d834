# Sourced by the demo and soak scripts. sample_image ZELIMG OUT KERNEL ROOTFS
# builds OUT: two loader stages, a kernel of KERNEL bytes, the environment and
# a root file system of ROOTFS bytes, all random, in the folder of OUT.
sample_image() {
  local zelimg=$1 out=$2 kernel=$3 rootfs=$4
  local parts
  parts=$(dirname "$out")/parts
  mkdir -p "$parts"
  head -c 24576 /dev/urandom > "$parts/spl.bin"
  head -c 393216 /dev/urandom > "$parts/uboot.bin"
  head -c "$kernel" /dev/urandom > "$parts/kernel.bin"
  head -c "$rootfs" /dev/urandom > "$parts/rootfs.bin"
  cat > "$parts/sample.manifest" <<'MANIFEST'
platform = zk3308
product = zelkora-demo
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

[fwc]
name = image.target.kernel
partition = kernel
attributes = burn
file = kernel.bin

[env]
parts_mmc = 4m(uboot),32m(kernel),-(rootfs)

[fwc]
name = image.target.rootfs
partition = rootfs
attributes = burn
file = rootfs.bin
MANIFEST
  "$zelimg" build -o "$out" "$parts/sample.manifest" >/dev/null
}
