# SPDX-License-Identifier: GPL-3.0-or-later
# The real-kernel scenario, shared by the host (preparing pedals and inputs, running every
# operation on the plain simulator for reference) and the guest (the same operations on the
# gadget pedals through the kernel, compared with the reference). Sourced by `run` and by the
# guest's init; plain POSIX sh so busybox runs it.

# ---- host side ---------------------------------------------------------------------------------

prepare_pedals() {  # $1: folder that receives p0 (model 0), p1 (1), p2 (2, old firmware), p3
  "$CLI" sim create "$1/p0" --model 0 --demo-loop >/dev/null
  "$CLI" sim create "$1/p1" --model 1 --demo-loop >/dev/null
  "$CLI" sim create "$1/p2" --model 2 --firmware 5 --demo-loop >/dev/null
  # p3 holds a loop of several transfer blocks and pulls its own cable a few commands into the
  # export.
  "$CLI" sim create "$1/p3" --model 0 >/dev/null
  sox -n -r 48000 -b 16 -c 1 "$1/long.wav" synth 6 sine 330 vol 0.5
  RENDAX_SIMULATOR="$1" "$CLI" --pedal "$1/p3" import "$1/long.wav" --yes >/dev/null 2>&1
  rm "$1/long.wav"
  printf 'unplug-after 4\n' >"$1/p3/faults"
  # p4 holds its second loop data read until the test lets it go: a transfer in flight.
  "$CLI" sim create "$1/p4" --model 0 --demo-loop >/dev/null
  printf 'stall LoopDataRead 2\n' >"$1/p4/faults"
}

prepare_inputs() {  # $1: folder for the WAV files that are imported
  mkdir -p "$1"
  sox -n -r 44100 -b 16 -c 1 "$1/mono44k16.wav" synth 3 sine 440 vol 0.6
  # sox writes 24-bit files in the extensible format, which the pedal's importer refuses; the
  # 24-bit stereo input is a twin pedal's export of a 16-bit file instead.
  scratch="$1/scratch"
  "$CLI" sim create "$scratch/twin" --model 1 >/dev/null
  sox -n -r 48000 -b 16 -c 2 "$scratch/in.wav" synth 2 sine 220 sine 660 vol 0.6
  RENDAX_SIMULATOR="$scratch" "$CLI" --pedal "$scratch/twin" import "$scratch/in.wav" --yes 2>/dev/null \
    >/dev/null
  RENDAX_SIMULATOR="$scratch" "$CLI" --pedal "$scratch/twin" export "$1/stereo48k24.wav" \
    >/dev/null 2>&1
  rm -r "$scratch"
}

reference_run() {  # $1: pedal folder root (RENDAX_SIMULATOR), $2: output folder
  mkdir -p "$2"
  OUT="$2" IN="$(dirname "$1")/inputs" operations "$1/p0" "$1/p1" "$1/p2" "$1"
}

# ---- both sides ------------------------------------------------------------------------------

# Runs rendax-cli on one pedal and keeps its standard output, standard error and status as
# $OUT/NAME.out, .err and .rc, with the pedal's path (and its short name in a question, as in
# "Rendax (sg0)") and the run's folders written as PEDAL, OUT and IN so the host's and the
# guest's results compare byte for byte.
run_op() {  # NAME PEDAL-PATH ARGS...
  name=$1 pedal=$2
  shift 2
  [ -r /proc/uptime ] && [ -n "${TRACE:-}" ] && echo "NOTE $(cut -d' ' -f1 /proc/uptime) $name"
  "$CLI" --pedal "$pedal" "$@" >"$OUT/$name.out" 2>"$OUT/$name.err" </dev/null
  echo $? >"$OUT/$name.rc"
  sed -i -e "s#$pedal#PEDAL#g" -e "s#($(basename "$pedal"))#(PEDAL)#g" -e "s#$OUT#OUT#g" \
    -e "s#$IN#IN#g" "$OUT/$name.out" "$OUT/$name.err"
}

save_state() {  # NAME PEDAL-FOLDER: what the pedal holds now
  for f in firmware firmware.bin loop.bin loop.info; do
    if [ -f "$2/$f" ]; then cp "$2/$f" "$OUT/$1.$f"; else echo absent >"$OUT/$1.$f"; fi
  done
}

# The operations compared between simulator and kernel: $1..$3 the pedals of models 0, 1, 2
# (folders or /dev/sgN), $4 the folder holding the pedal folders.
operations() {
  run_op fw-read-0 "$1" firmware
  run_op fw-read-1 "$2" firmware
  run_op fw-read-2 "$3" firmware
  run_op fw-update-2 "$3" firmware --update --yes
  save_state state-2 "$4/p2"
  run_op export-0 "$1" export "$OUT/export-0.wav"
  run_op export-1 "$2" export "$OUT/export-1.wav"
  run_op export-2 "$3" export "$OUT/export-2.wav"
  run_op import-0 "$1" import "$IN/mono44k16.wav" --yes --no-verify
  save_state state-0 "$4/p0"
  run_op import-1 "$2" import "$IN/stereo48k24.wav" --yes --verify
  save_state state-1 "$4/p1"
  run_op reexport-0 "$1" export "$OUT/reexport-0.wav"
  run_op reexport-1 "$2" export "$OUT/reexport-1.wav"
}

# ---- guest side ------------------------------------------------------------------------------

pass() { echo "PASS $*"; }
stamp() { [ -n "${TRACE:-}" ] && echo "NOTE $(cut -d' ' -f1 /proc/uptime) $*"; }
fail() { echo "FAIL $*"; }

# The sg node of the SCSI device whose INQUIRY product (blanks trimmed) is $1 and whose USB
# device has vendor id $2 ("none": not on USB); empty when absent.
find_sg() {
  for d in /sys/class/scsi_generic/sg*; do
    [ -e "$d/device/model" ] || continue
    dev=$(readlink -f "$d/device")
    model=$(sed 's/ *$//' "$dev/model")
    [ "$model" = "$1" ] || continue
    vendor=none p=$dev
    while [ "$p" != "/" ] && [ -n "$p" ]; do
      if [ -f "$p/idVendor" ]; then vendor=$(cat "$p/idVendor"); break; fi
      p=${p%/*}
    done
    [ "$vendor" = "$2" ] && echo "/dev/${d##*/}"
  done
}

wait_for_sg() {  # PRODUCT VENDOR: waits up to 15 s for the device, prints its sg node
  i=0
  while [ $i -lt 150 ]; do
    node=$(find_sg "$1" "$2")
    if [ -n "$node" ] && [ -c "$node" ]; then echo "$node"; return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

wait_for_new_sg() {  # PRODUCT VENDOR KNOWN-NODE: the same, for a second device of that model
  i=0
  while [ $i -lt 150 ]; do
    node=$(find_sg "$1" "$2" | grep -v "^$3\$")
    if [ -n "$node" ] && [ -c "$node" ]; then echo "$node"; return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

wait_gone() {  # NODE: waits up to 10 s for the sg node to go away
  i=0
  while [ -e "$1" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ ! -e "$1" ]
}

start_gadget() {  # N PEDAL-FOLDER: serves the pedal on dummy_udc.N
  pedal-gadget --pedal "$2" --udc "dummy_udc.$1" --name "pedal$1" --serial "000$1" \
    2>>"/out/gadget$1.err" &
  echo $! >"/tmp/gadget$1.pid"
}

compare() {  # NAME FILES...: one check over several result files
  name=$1
  shift
  bad=""
  for f in "$@"; do
    # busybox cmp reads byte by byte, slow under emulation; a digest of each side is not.
    [ -f "/out/$f" ] || { bad="$bad $f"; continue; }
    sums=$(md5sum "/expected/$f" "/out/$f" | cut -d' ' -f1 | uniq | wc -l)
    [ "$sums" = 1 ] || bad="$bad $f"
  done
  if [ -z "$bad" ]; then
    pass "$name"
  else
    fail "$name: differs from the simulator in$bad"
    for f in $bad; do
      case $f in *.out | *.err | *.rc) echo "--- simulator $f"; cat "/expected/$f"
        echo "--- kernel $f"; cat "/out/$f" ;; esac
    done
  fi
}

guest_checks() {
  OUT=/out IN=/inputs TRACE=1
  export CLI=rendax-cli RENDAX_BACKUP_DIR=/tmp/backups
  ls /sys/class/udc | grep -q dummy_udc.3 || fail "setup: fewer than four dummy controllers"
  stamp start
  kernel_uevents_start
  start_gadget 0 /pedals/p0
  start_gadget 1 /pedals/p1
  start_gadget 2 /pedals/p2
  sg0=$(wait_for_sg RENDAX 1d6b) || fail "gadget pedal of model 0 never appeared"
  sg1=$(wait_for_sg RENDAX_TWIN 1d6b) || fail "gadget pedal of model 1 never appeared"
  sg2=$(wait_for_sg RENDAX_MINI 1d6b) || fail "gadget pedal of model 2 never appeared"
  qemu=$(wait_for_sg RENDAX_TWIN 46f4) || fail "QEMU's USB disk never appeared"
  stamp gadgets
  decoy=$(wait_for_sg RENDAX none) || fail "the virtio decoy never appeared"
  stamp decoy
  echo "NOTE pedals $sg0 $sg1 $sg2, QEMU USB disk $qemu, virtio decoy $decoy"

  # Discovery on the kernel's sysfs: every gadget pedal on its node, the decoy skipped.
  rendax-cli list >/out/list.out 2>/out/list.err
  rc=$?
  ok=1
  grep -q "^$sg0  Rendax (model 0)  firmware 8\$" /out/list.out || ok=0
  grep -q "^$sg1  Rendax Twin (model 1)  firmware 8\$" /out/list.out || ok=0
  grep -q "^$sg2  Rendax Mini (model 2)  firmware 5\$" /out/list.out || ok=0
  grep -q "^$decoy " /out/list.out && ok=0
  if [ $rc = 0 ] && [ $ok = 1 ]; then pass "list finds each model's pedal and skips the decoy"
  else fail "list (status $rc):"; cat /out/list.out /out/list.err; fi

  stamp list
  operations "$sg0" "$sg1" "$sg2" /pedals
  for m in 0 1 2; do compare "firmware read, model $m" fw-read-$m.out fw-read-$m.err fw-read-$m.rc; done
  compare "firmware update of an old pedal" fw-update-2.out fw-update-2.err fw-update-2.rc \
    state-2.firmware state-2.firmware.bin
  for m in 0 1 2; do
    compare "export, model $m" export-$m.out export-$m.err export-$m.rc export-$m.wav
  done
  compare "import 44.1 kHz 16-bit mono without verify, model 0" import-0.out import-0.err import-0.rc \
    state-0.loop.bin state-0.loop.info
  compare "import 48 kHz 24-bit stereo with verify, model 1" import-1.out import-1.err \
    import-1.rc state-1.loop.bin state-1.loop.info
  compare "export of the imported loops" reexport-0.out reexport-0.err reexport-0.rc \
    reexport-0.wav reexport-1.out reexport-1.err reexport-1.rc reexport-1.wav

  stamp compared
  in_use_checks
  stamp in-use
  refusing_device_checks
  stamp refusing
  permission_checks
  stamp permissions
  backup_checks
  stamp backups
  unplug_checks
  stamp unplug
  kernel_uevents_check
  interrupt_checks
  stamp interrupt
}

in_use_checks() {
  # Another program holds the pedal's node open (the shell, from a second process's point of
  # view): the sg driver refuses rendax-cli's exclusive open at once, and nothing is written.
  exec 9<>"$sg0"
  rendax-cli --pedal "$sg0" export /tmp/held.wav >/out/held.out 2>/out/held.err
  rc=$?
  exec 9<&-
  if [ $rc = 1 ] && [ "$(cat /out/held.err)" = "The pedal is in use by another program: $sg0" ] &&
    [ ! -s /out/held.out ] && [ ! -e /tmp/held.wav ]; then
    pass "a second program on a real sg node: in use, nothing written"
  else
    fail "second program on $sg0 (status $rc):"; cat /out/held.out /out/held.err
  fi
  rendax-cli --pedal "$sg0" export /tmp/freed.wav >/dev/null 2>/out/freed.err
  rc=$?
  if [ $rc = 0 ] && cmp -s /tmp/freed.wav /out/reexport-0.wav; then
    pass "released by the other program: the pedal exports again"
  else
    fail "export after the other program let go (status $rc):"; cat /out/freed.err
  fi
}

# The first $3 bytes of files $1 and $2 are the same.
same_start() {
  [ "$(head -c "$3" "$1" | md5sum)" = "$(head -c "$3" "$2" | md5sum)" ]
}

backup_checks() {
  # An import saves the loop it replaces; restore puts it back exactly: the lossless exports
  # before and after are the same up to the time of reading, their last eight bytes.
  rendax-cli --pedal "$sg1" export --native /tmp/a.wav >/dev/null 2>/out/native-a.err
  rc1=$?
  earlier=$(ls /tmp/backups 2>/dev/null | wc -l)
  rendax-cli --pedal "$sg1" import "$IN/mono44k16.wav" --yes >/dev/null 2>/out/replace.err
  rc2=$?
  made=$(($(ls /tmp/backups 2>/dev/null | wc -l) - earlier))
  rendax-cli --pedal "$sg1" restore --yes >/out/restore.out 2>/out/restore.err
  rc3=$?
  rendax-cli --pedal "$sg1" export --native /tmp/b.wav >/dev/null 2>/out/native-b.err
  rc4=$?
  size=$(wc -c </tmp/a.wav)
  if [ "$rc1$rc2$rc3$rc4" = 0000 ] && [ "$made" = 1 ] && [ "$size" -gt 1000 ] &&
    [ "$(wc -c </tmp/b.wav)" = "$size" ] && same_start /tmp/a.wav /tmp/b.wav $((size - 8)); then
    pass "import makes a backup, restore puts the loop back byte for byte"
  else
    fail "backup and restore (status $rc1 $rc2 $rc3 $rc4, $made backups):"
    cat /out/native-a.err /out/replace.err /out/restore.out /out/restore.err /out/native-b.err
    ls -l /tmp/a.wav /tmp/b.wav /tmp/backups
  fi
}

# The pedal on p4 holds a command until its `stalled` marker goes: meanwhile a second program
# is refused, then the first is stopped by SIGTERM (a background job ignores SIGINT).
interrupt_checks() {
  start_gadget 3 /pedals/p4
  sg4=$(wait_for_new_sg RENDAX 1d6b "$sg0")
  if [ -z "$sg4" ]; then fail "the stalling pedal never appeared"; return; fi
  echo "NOTE stalling pedal on $sg4"
  rendax-cli --pedal "$sg4" export /tmp/stopped.wav >/out/stopped.out 2>/out/stopped.err &
  pid=$!
  i=0
  while [ ! -e /pedals/p4/stalled ] && [ $i -lt 150 ]; do sleep 0.1; i=$((i + 1)); done
  rendax-cli --pedal "$sg4" export /tmp/second.wav >/out/second.out 2>/out/second.err
  rc2=$?
  if [ $rc2 = 1 ] && [ "$(cat /out/second.err)" = "The pedal is in use by another program: $sg4" ] &&
    [ ! -e /tmp/second.wav ]; then
    pass "a second rendax-cli during a transfer on a real sg node: in use, nothing written"
  else
    fail "second rendax-cli during a transfer on $sg4 (status $rc2):"; cat /out/second.*
  fi
  kill -TERM "$pid"
  # The handler gives up SIGTERM once it has asked the job to stop: then the job sees it.
  i=0
  while [ $i -lt 150 ]; do
    caught=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null)
    [ -n "$caught" ] && [ $((0x$caught & 0x4000)) = 0 ] && break
    sleep 0.1
    i=$((i + 1))
  done
  rm -f /pedals/p4/stalled
  wait "$pid"
  rc=$?
  if [ $rc = 130 ] && grep -q "^Receive Error: interrupted; no file was written" /out/stopped.err &&
    [ -z "$(ls /tmp | grep -e stopped)" ]; then
    pass "SIGTERM during an export on a real sg node: status 130, no file left"
  else
    fail "SIGTERM during an export on $sg4 (status $rc):"; cat /out/stopped.*; ls -la /tmp
  fi
  if rendax-cli --pedal "$sg4" export /tmp/after.wav >/dev/null 2>/out/after.err; then
    pass "after the interrupted transfer the pedal exports again"
  else
    fail "export after the interrupted one:"; cat /out/after.err
  fi
  kill "$(cat /tmp/gadget3.pid)"
  wait "$(cat /tmp/gadget3.pid)"
}

refusing_device_checks() {
  # QEMU's disk carries the pedal's strings but refuses the vendor command.
  rendax-cli --pedal "$qemu" firmware --update --yes >/out/qemu.out 2>/out/qemu.err
  rc=$?
  if [ $rc != 0 ] && grep -q "Firmware Read Error" /out/qemu.err /out/qemu.out &&
    ! grep -qi "complete\|updated" /out/qemu.out; then
    pass "a disk that refuses 0xCB: Firmware Read Error, non-zero exit"
  else
    fail "disk that refuses 0xCB (status $rc):"; cat /out/qemu.out /out/qemu.err
  fi
  rendax-cli --pedal "$qemu" export /tmp/qemu.wav >/out/qemu-export.out 2>/out/qemu-export.err
  rc=$?
  if [ $rc != 0 ] && [ ! -e /tmp/qemu.wav ]; then
    pass "a disk that refuses 0xCB: export fails and writes no file"
  else
    fail "export from a disk that refuses 0xCB (status $rc):"; cat /out/qemu-export.*
  fi
}

permission_checks() {
  as_player() { su -s /bin/sh player -c "$*"; }
  as_player rendax-cli --pedal "$sg1" firmware >/out/noacl.out 2>/out/noacl.err
  rc=$?
  if [ $rc != 0 ] && grep -q "udev rule" /out/noacl.err && grep -q "rules.d" /out/noacl.err; then
    pass "without access to the sg node: how to install the udev rule, non-zero exit"
  else
    fail "unprivileged run without ACL (status $rc):"; cat /out/noacl.out /out/noacl.err
  fi
  setfacl -m u:1000:rw "$sg1"
  as_player rendax-cli --pedal "$sg1" firmware >/out/acl.out 2>/out/acl.err
  rc=$?
  sed -i "s#$sg1#PEDAL#g" /out/acl.out
  as_player rendax-cli --pedal "$sg1" export /tmp/acl.wav >/dev/null 2>/out/acl-export.err
  rc2=$?
  if [ $rc = 0 ] && [ $rc2 = 0 ] && cmp -s /out/acl.out /expected/fw-read-1.out &&
    [ "$(md5sum </tmp/acl.wav)" = "$(md5sum </out/reexport-1.wav)" ]; then
    pass "an unprivileged user with an ACL on the sg node reads and exports"
  else
    fail "unprivileged run with ACL (status $rc, $rc2):"; cat /out/acl.out /out/acl.err \
      /out/acl-export.err
  fi
}

unplug_checks() {
  start_gadget 3 /pedals/p3
  sg3=$(wait_for_new_sg RENDAX 1d6b "$sg0")
  if [ -z "$sg3" ]; then fail "the unplugging pedal never appeared"; return; fi
  echo "NOTE unplugging pedal on $sg3"
  sd3=$(ls "/sys/class/scsi_generic/${sg3#/dev/}/device/block" 2>/dev/null)
  rendax-cli --pedal "$sg3" export /tmp/pulled.wav >/out/pulled.out 2>/out/pulled.err
  rc=$?
  wait "$(cat /tmp/gadget3.pid)"
  grc=$?
  if [ $rc != 0 ] && grep -q "Receive Error" /out/pulled.err /out/pulled.out &&
    [ ! -e /tmp/pulled.wav ] && [ $grc = 3 ] && wait_gone "$sg3"; then
    pass "cable pulled during an export: Receive Error, no file left, pedal gone"
  else
    fail "cable pulled during an export (cli $rc, gadget $grc):"; cat /out/pulled.* 
    ls -la /tmp
  fi
  # Plugged in again: a new node, and the pedal works there. The hot-plug watcher of the window
  # runs meanwhile (through rendax-cli watch); its disk must be gone first, or its late removal
  # would be the watcher's first notice.
  [ -z "$sd3" ] || wait_gone "/sys/block/$sd3" || fail "the pulled pedal's disk $sd3 stayed"
  watch_start
  rm -f /pedals/p3/unplugged /pedals/p3/faults
  start_gadget 3 /pedals/p3
  sg3b=$(wait_for_new_sg RENDAX 1d6b "$sg0")
  if [ -n "$sg3b" ] && rendax-cli --pedal "$sg3b" firmware >/dev/null 2>&1; then
    pass "plugged in again: found on $sg3b and answering"
  else
    fail "plugged in again: not found or not answering ($sg3b)"
  fi
  # The watcher settles notices for 0.3 s: a pedal pulled before then was never there for it.
  i=0
  while ! grep -q "^arrival" /out/watch.out && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  kill "$(cat /tmp/gadget3.pid)"
  wait "$(cat /tmp/gadget3.pid)"
  wait_gone "$sg3b" || fail "pulled pedal still present at $sg3b"
  watch_check
}

# rendax-cli watch: the window's hot-plug code on the kernel's own uevents (no udevd here).
watch_start() {
  rendax-cli watch --count 2 --timeout 20 >/out/watch.out 2>/out/watch.err &
  echo $! >/tmp/watch.pid
  i=0
  while ! grep -q "^Watching" /out/watch.err && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
}

watch_check() {
  wait "$(cat /tmp/watch.pid)"
  rc=$?
  # Each line names the pedal that came or went: the one plugged in again on $sg3b, while the
  # one on $sg0 stays attached throughout.
  printf 'arrival  %s  Rendax (model 0)\nremoval  %s  Rendax (model 0)\n' "$sg3b" "$sg3b" \
    >/tmp/watch.expected
  if [ $rc = 0 ] && grep -q "through kernel uevents" /out/watch.err &&
    cmp -s /tmp/watch.expected /out/watch.out; then
    pass "watch: a pedal plugged in and pulled out gives one arrival and one removal"
  else
    fail "watch (status $rc):"; cat /out/watch.out /out/watch.err
  fi
}

# The kernel's own uevents (there is no udevd in the guest): what a hot-plug watcher that
# reads the kernel's netlink group sees when the pedal comes and goes.
kernel_uevents_start() {
  uevent sh -c 'echo "$ACTION $SUBSYSTEM $DEVNAME" >>/tmp/uevents' &
  echo $! >/tmp/uevent.pid
}

kernel_uevents_check() {
  sleep 0.2
  kill "$(cat /tmp/uevent.pid)" 2>/dev/null
  node=${sg3b#/dev/}
  if grep -q "^add scsi_generic $node\$" /tmp/uevents && grep -q "^remove scsi_generic $node\$" /tmp/uevents &&
    grep -q "^add block sd" /tmp/uevents && grep -q "^remove block sd" /tmp/uevents; then
    pass "kernel uevents announce the pedal's arrival and removal"
  else
    fail "kernel uevents for arrival and removal:"; cat /tmp/uevents
  fi
}
