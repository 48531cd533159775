#!/usr/bin/env bash
# quillon-flash against the kernel's own drivers: usblp (a USB printer gadget
# on dummy_hcd is the printer), the 8250 UART and ppdev, in Debian's kernel
# under QEMU (no KVM), with quillon-printer-sim on the far side.
#   scripts/vm-test.sh [--build DIR] [SCENARIO...]
# DIR is a Linux build (build/debug). The kernel package is fetched once into
# build/vm/; the guest mounts the host's root read-only and runs this script
# (--guest) on the build as it is. One line per scenario and a summary; exit
# status 1 if one failed, whose kernel log, transcript and output are kept in
# build/vm/out/BOOT/NAME/ (every scenario's with QUILLON_VM_KEEP=1).
set -euo pipefail

# name  boot  seconds (a bound, about three times what it takes)  interface type result flash [options]
# Boots run side by side, a boot's scenarios in turn. flash: new (the image in
# its sectors, all else as it was), old (nothing changed), part (neither), -
# (no printer). Options: port=PATH; sim=--OPT,... for printer 1; ids=VID:PID,...
# one printer (gadget) each; into=N, the printer that gets the image; user, a
# user outside lp; busy, another program holds the port; hint=WORDS_OF_IT;
# list, quillon-flash --list --json must show the ports (the printers) first.
SCENARIOS=(
  "usb-main            a 300 usb main 1 new"
  "usb-font-port       a 180 usb font 1 new port=/dev/usb/lp0"
  "usb-denied          a  60 usb font 1038 old user hint=usually_lp list"
  "usb-denied-port     a  60 usb font 1038 old user port=/dev/usb/lp0 hint=70-quillon.rules"
  "usb-gone            a 120 usb font 1038 old sim=--replug-after=switch,--replug-gone=never hint=no_longer_on_the_bus"
  "usb-gone-port       a 120 usb font 1038 old port=/dev/usb/lp0 sim=--replug-after=switch,--replug-gone=never hint=/dev/usb/lp0_no_longer_exists"
  "usb-font            b 180 usb font 1 new"
  "usb-replug-switch   b 180 usb font 1 new sim=--replug-after=switch"
  "usb-replug-ipl      b 180 usb ipl 1 new sim=--replug-after=switch,--replug-after=data:1"
  "usb-replug-data     c 180 usb font 1003 part sim=--replug-during=data:1 hint=switch_it_off_and_on"
  "usb-two-printers    c 180 usb font 1 new ids=0e4b:2207,0f1d:a02b into=2 list"
  "serial-uart         c 150 serial main 1 new list"
  "parallel-ecp        c  60 parallel font 1035 - hint=IEEE_1284_ECP_mode list"
  "parallel-nibble     c  60 parallel ipl 1042 - hint=IEEE_1284_nibble_mode"
  "parallel-in-use     c  60 parallel font 1034 - busy hint=in_use_by_another_program"
)
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# ---- In the guest.
# TYPE: the image's name and size, the offset of its first written byte and
# where that goes in the flash (an IPL image lies over the flash from 0, its
# first 32 KiB unwritten).
image() {
  case $1 in
    main) echo "image.mfw 65536 0 $((0x20000))" ;;
    font) echo "image.bin 131072 0 $((0xE0000))" ;;
    ipl) echo "image.ipl 131072 32768 32768" ;;
  esac
}
await() {  # PATH [TEXT]: up to 20 s for PATH to be there (and to hold TEXT)
  for _ in $(seq 400); do
    [[ -e $1 ]] && { [[ -z ${2:-} ]] || grep -qs "$2" "$1"; } && return
    sleep 0.05
  done
  false
}
fail() { why="$*"; false; }

gadget() {  # N VID:PID: a printer gadget on the Nth bus
  local g=/sys/kernel/config/usb_gadget/p$1
  mkdir "$g" "$g/strings/0x409" "$g/functions/printer.p$1" "$g/configs/c.1"
  echo "0x${2%:*}" >"$g/idVendor" && echo "0x${2#*:}" >"$g/idProduct"
  echo Quillon >"$g/strings/0x409/manufacturer"
  # The 6.1 kernel drops the identifier's last character: the second ';'.
  echo 'MFG:Quillon;CMD:ESC;MDL:Passbook;CLS:PRINTER;;' >"$g/functions/printer.p$1/pnp_string"
  ln -s "$g/functions/printer.p$1" "$g/configs/c.1/"
  echo "dummy_udc.$(($1 - 1))" >"$g/UDC"
}

printer() {  # N PORT-OPTIONS...: the emulator as printer N
  local n=$1
  shift
  "$build/sim/quillon-printer-sim" --image "$work/old.bin" --flash-out "$work/sim$n.flash" \
    --log "$work/sim$n.log" --verbose "$@" >"$work/sim$n.out" 2>"$work/sim$n.err" &
  pids+=("$!")
  await "$work/sim$n.out" / || fail "printer $n did not start: $(cat "$work/sim$n.err")"
}

run() {  # INTERFACE TYPE CODE FLASH [OPTIONS]
  local iface=$1 type=$2 code=$3 want=$4 port="" sim=() ids=0f1d:a02b into=1 user=() hint=""
  local n=0 busy="" probe="" list="" name size from at args=(--type "$2" --interface "$1") o f
  for o in "${@:5}"; do
    case $o in
      port=*) port=${o#*=} ;; sim=*) IFS=, read -r -a sim <<<"${o#*=}" ;;
      ids=*) ids=${o#*=} ;; into=*) into=${o#*=} ;; hint=*) hint=${o#*=} ;;
      user) user=(setpriv --reuid=nobody --regid=nogroup --clear-groups) ;; busy) busy=1 ;;
      list) list=1 ;;
    esac
  done
  read -r name size from at < <(image "$type")
  case $iface in
    usb)
      for id in ${ids//,/ }; do
        n=$((n + 1))
        gadget $n "$id" && await /dev/g_printer$((n - 1)) || fail "no gadget $n" || return
        printer $n --usb-gadget /dev/g_printer$((n - 1)) \
          --gadget /sys/kernel/config/usb_gadget/p$n "${sim[@]}" || return
      done
      await /dev/usb/lp$((n - 1)) || fail "usblp made no /dev/usb/lp$((n - 1))" || return
      chown root:lp /dev/usb/lp* && chmod 0660 /dev/usb/lp* ;;
    serial)  # both ends at 9600 baud, even parity, 2 stop bits until the switch
      printer 1 --device /dev/ttyS2 --baud 9600 --parity even --stop-bits 2 || return
      port=/dev/ttyS1 args=(--type "$type" --baud 9600 --parity EVEN --stop-bits 2)
      # The host side's modem lines while quillon-flash has the port.
      python3 -c 'import fcntl, os, struct, sys, termios, time
fd, seen = os.open("/dev/ttyS1", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK), 0
while not os.path.exists(sys.argv[1]):
    seen |= struct.unpack("i", fcntl.ioctl(fd, termios.TIOCMGET, bytes(4)))[0]; time.sleep(0.05)
print(*[w for w, b in (("DTR", termios.TIOCM_DTR), ("DSR", termios.TIOCM_DSR)) if seen & b])' \
        "$work/done" >"$work/lines" &
      probe=$! ;;
    parallel)
      port=/dev/parport0
      if [[ -n $busy ]]; then
        python3 -c 'import fcntl, os, time
fcntl.ioctl(os.open("/dev/parport0", os.O_RDWR), 0x708B)  # PPCLAIM
print("claimed", flush=True); time.sleep(3600)' >"$work/holder" &
        pids+=("$!")
        await "$work/holder" claimed || fail "the other program did not claim the port" || return
      fi ;;
  esac
  [[ -n $port ]] && args+=(--port "$port")
  if [[ -n $list ]]; then
    "${user[@]}" "$build/cli/quillon-flash" --list --json >"$work/list.out" 2>&1
    python3 - "$work/list.out" "$iface" "$ids" "${#user[@]}" <<'EOF' ||
import json, sys
listed, iface, ids, other_user = json.load(open(sys.argv[1])), sys.argv[2], sys.argv[3], sys.argv[4] != "0"
def ports(kind): return {p["path"]: p for p in listed[kind]}
if iface == "usb":  # every gadget, with the ids, device ID and state udev and sysfs give
    usb = listed["usb"]
    assert sorted(f"{p['vendor_id']}:{p['product_id']}" for p in usb) == sorted(ids.split(",")), usb
    for p in usb:
        assert p["path"].startswith("/dev/usb/lp") and p["bus_path"] and p["vendor"] == "Quillon", p
        assert p["device_id"].startswith("MFG:Quillon;CMD:ESC;MDL:Passbook;CLS:PRINTER;"), p
        assert p["state"] == ("denied" if other_user else "usable"), p
        assert other_user == ("usermod -aG lp" in (p["hint"] or "")), p
elif iface == "serial":  # the two UARTs the printer and quillon-flash use
    serial = ports("serial")
    for path, name in (("/dev/ttyS1", "COM2"), ("/dev/ttyS2", "COM3")):
        assert serial[path]["name"] == name and serial[path]["state"] == "usable", serial
else:
    assert ports("parallel")["/dev/parport0"]["name"] == "LPT1", listed
EOF
      fail "--list: $(tr '\n' ' ' <"$work/list.out")" || return
  fi
  "${user[@]}" timeout "$limit" "$build/cli/quillon-flash" --json "${args[@]}" "$work/$name" \
    >"$work/flash.out" 2>"$work/flash.err" || true
  touch "$work/done"
  [[ -z $probe ]] || wait "$probe"
  local result
  result=$(tail -n 1 "$work/flash.out")
  [[ $result == *"\"code\":$code,"* ]] ||
    fail "expected $code, got ${result:-nothing}: $(tr '\n' ' ' <"$work/flash.err")" || return
  [[ -z $hint ]] || grep -qF -- "${hint//_/ }" "$work/flash.err" ||
    fail "no hint \"${hint//_/ }\": $(tr '\n' ' ' <"$work/flash.err")" || return
  stop
  if [[ $iface == serial && $(cat "$work/lines") != "DTR DSR" ]]; then
    fail "modem lines of /dev/ttyS1: '$(cat "$work/lines")', not 'DTR DSR'" || return
  fi
  [[ $want == - ]] && return
  cp "$work/old.bin" "$work/new.bin"
  dd if="$work/$name" of="$work/new.bin" skip="$from" seek="$at" bs=64K conv=notrunc \
    iflag=skip_bytes oflag=seek_bytes status=none
  for f in "$work"/sim*.flash; do
    local got=part expect=old
    [[ $f == */sim$into.flash ]] && expect=$want
    cmp -s "$f" "$work/old.bin" && got=old
    cmp -s "$f" "$work/new.bin" && got=new
    [[ $got == "$expect" ]] || fail "${f##*/}: $got, not $expect" || return
  done
  [[ -f $work/sim$into.flash ]] || fail "printer $into left no flash"
}

stop() {
  kill -TERM "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
  pids=()
}

guest() {  # BUILD KEEP NAME...
  build=$1 keep=$2
  shift 2
  set +e
  local row name seconds what status started
  for name in "$@"; do
    for row in "${SCENARIOS[@]}"; do
      read -r n _ seconds what <<<"$row"
      [[ $n == "$name" ]] && break
    done
    work=/run/$name limit=$seconds why="" pids=()
    mkdir -m 0755 "$work"
    # The flash before: older firmware everywhere, so that what changed shows.
    head -c 4390912 /dev/zero | tr '\0' '\132' >"$work/old.bin"
    for t in main font ipl; do
      read -r file size _ < <(image $t)
      head -c "$size" /dev/urandom >"$work/$file"
    done
    dmesg -C
    started=$SECONDS
    # shellcheck disable=SC2086
    if run $what; then status=PASS; else status=FAIL; fi
    stop
    echo "@@vm $name $status $((SECONDS - started)) $why"
    if [[ $status == FAIL || $keep == 1 ]]; then
      mkdir -p "/run/out/$name"
      dmesg >"/run/out/$name/kernel.log"
      cp "$work"/sim*.log "$work"/sim*.err "$work"/flash.* "$work"/list.out "/run/out/$name/" 2>/dev/null
    fi
    for g in /sys/kernel/config/usb_gadget/p*; do
      [[ -d $g ]] || continue
      echo "" 2>/dev/null >"$g/UDC"
      rm "$g"/configs/c.1/printer.*
      rmdir "$g"/configs/c.1 "$g"/functions/* "$g"/strings/0x409 "$g"
    done
    rm -rf "$work"
  done
}

if [[ ${1:-} == --guest ]]; then
  guest "${@:2}"
  exit 0
fi

# ---- On the host: the kernel, the initramfs, the boots.
build=$root/build/debug
[[ ${1:-} == --build ]] && build=$(cd "$2" && pwd) && shift 2
[[ -x $build/cli/quillon-flash && -x $build/sim/quillon-printer-sim ]] ||
  { echo "vm-test.sh: build $build first" >&2; exit 2; }
"$root/scripts/install-deps.sh" --vm
vm=$root/build/vm
mkdir -p "$vm" && cd "$vm"

depends() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}'; }
package=$(depends)
[[ -n $package ]] || { apt-get update -qq && package=$(depends); }
version=${package#linux-image-}
if [[ ! -f kernel/$version/vmlinuz ]]; then
  rm -rf kernel && mkdir -p kernel/tmp
  (cd kernel/tmp && apt-get download -q "$package" 2>/dev/null && dpkg-deb -x ./*.deb root)
  depmod -b kernel/tmp/root "$version"
  mv kernel/tmp/root "kernel/$version" && rm -rf kernel/tmp
  cp "kernel/$version/boot/vmlinuz-$version" "kernel/$version/vmlinuz"
fi

# busybox, the modules in the order of their dependencies, and an init that
# mounts the host's root and runs this script in it.
rm -rf initrd && mkdir -p initrd/{bin,proc,sys,dev,host,modules}
cp /bin/busybox initrd/bin/
for applet in $(/bin/busybox --list | grep -vx busybox); do ln -s busybox "initrd/bin/$applet"; done
for m in dummy_hcd usb_f_printer usblp parport_pc ppdev 9p 9pnet_virtio virtio_pci; do
  modprobe -d "kernel/$version" -S "$version" --show-depends "$m"
done | awk '$1 == "insmod" && !seen[$2]++ {print $2}' | while read -r ko; do
  cp "$ko" initrd/modules/ && basename "$ko" >>initrd/modules/order
done
cat >initrd/init <<'EOF'
#!/bin/sh
mount -t proc proc /proc && mount -t sysfs sys /sys && mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do
  [ $m = dummy_hcd.ko ] && insmod /modules/$m num=2 || insmod /modules/$m
done
for word in $(cat /proc/cmdline); do case $word in quillon.*=*) eval "${word#quillon.}" ;; esac; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro host /host
mount -t proc proc /host/proc && mount -t sysfs sys /host/sys && mount -t devtmpfs dev /host/dev
ln -s /proc/self/fd /host/dev/fd
# What the guest writes goes to /run (not /tmp, which may hold the tree).
mount -t configfs none /host/sys/kernel/config && mount -t tmpfs run /host/run
mkdir /host/run/out && mount -t 9p -o trans=virtio,version=9p2000.L out /host/run/out
TMPDIR=/run chroot /host /bin/bash "$script" --guest "$build" "$keep" $(echo "$run" | tr , ' ')
poweroff -f
EOF
chmod +x initrd/init
(cd initrd && find . | cpio -o -H newc --quiet | gzip -1 >../initrd.gz)

wanted=" $* "
declare -A boot_of
for row in "${SCENARIOS[@]}"; do
  read -r name b _ <<<"$row"
  [[ $wanted == "  " || $wanted == *" $name "* ]] && boot_of[$name]=$b
done
((${#boot_of[@]})) || { echo "vm-test.sh: no such scenario:$wanted" >&2; exit 2; }

boot() {  # B: the boot's scenarios, in table order, under one time limit
  local names=() total=120 row name seconds out=$vm/out/$1
  for row in "${SCENARIOS[@]}"; do
    read -r name _ seconds _ <<<"$row"
    [[ ${boot_of[$name]:-} == "$1" ]] && names+=("$name") && total=$((total + seconds))
  done
  rm -rf "$out" && mkdir -p "$out"
  timeout --kill-after=10 "$total" qemu-system-x86_64 -accel tcg -m 768 -nic none \
    -display none -monitor none -no-reboot -kernel "kernel/$version/vmlinuz" -initrd initrd.gz \
    -append "console=ttyS0 quiet panic=-1 quillon.script=$root/scripts/vm-test.sh quillon.build=$build quillon.keep=${QUILLON_VM_KEEP:-0} quillon.run=$(IFS=,; echo "${names[*]}")" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
    -virtfs local,path="$out",mount_tag=out,security_model=none -serial file:"$out/console.log" \
    -chardev socket,id=u1,path="$out/line",server=on,wait=off -serial chardev:u1 \
    -chardev socket,id=u2,path="$out/line" -serial chardev:u2 -parallel null \
    </dev/null >"$out/qemu.log" 2>&1 || true
}

started=$SECONDS
for b in $(printf '%s\n' "${boot_of[@]}" | sort -u); do boot "$b" & done
wait
failed=0
for row in "${SCENARIOS[@]}"; do
  read -r name b _ <<<"$row"
  [[ -n ${boot_of[$name]:-} ]] || continue
  line=$(grep -a "^@@vm $name " "$vm/out/$b/console.log" 2>/dev/null) ||
    line="@@vm $name FAIL - the guest did not report it (see build/vm/out/$b/console.log)"
  read -r _ _ status seconds why <<<"$line"
  printf '%-4s %-18s %4s s  %s\n' "$status" "$name" "$seconds" "$why"
  [[ $status == PASS ]] || failed=$((failed + 1))
done
echo "vm-test.sh: ${#boot_of[@]} scenarios, $failed failed, in $((SECONDS - started)) s (kernel $version)"
((failed == 0))
