# shellcheck shell=bash
# The guest's binding of the test cases (tests/cases/lib.sh, sourced first): a real kernel's SCSI
# stack, whose target in user space plays the simulated drives. Expects what tests/cases/lib.sh
# expects, plus KERNEL_BIN (the folder holding quorel-tcmu-drive and quorel-flash),
# KERNEL_PREFIX (the guest's prepared Wine prefix) and KERNEL_LOOP (the tcm_loop target's folder
# in configfs).
#
# A case writes the simulated machine with sim_scenario, then calls drives_ready (kernel_drives),
# which serves each [driveN] as a TCMU device and links it as LUN N-1 of the loop target;
# start_quorel has Wine's mount manager make them the drive letters D:, E:, ...; the program then
# finds the drives through their letters and sends its commands through Wine's pass-through,
# which the kernel's sr driver passes on as SG_IO. Or the case calls run_flash: quorel-flash opens
# /dev/srN itself and sends SG_IO.

# shellcheck source=../cases/lib.sh
source "$E2E_ROOT/tests/cases/lib.sh"
export CASE_BINDING=tests/kernel/lib.sh

KERNEL_TCMU=/sys/kernel/config/target/core/user_0
KERNEL_LETTERS=(d e f g)
KERNEL_RUN_AS=()  # the command prefix that runs Wine as the ordinary user, when set
KERNEL_USER=quorel
KERNEL_USER_PREFIX=/opt/quorel/prefix-$KERNEL_USER  # beside the prepared prefix: hard links

# wine, wineserver: Wine as root or, after kernel_as_user, as the ordinary user.
wine() { "${KERNEL_RUN_AS[@]}" /usr/bin/wine "$@"; }
wineserver() { "${KERNEL_RUN_AS[@]}" /usr/bin/wineserver "$@"; }

# ---- Wine sessions ----

# The Wine scenarios of a boot share one prefix and one persistent wineserver per user: root's,
# and the ordinary user's. A new server costs a wineboot and the system processes (services, the
# mount manager, the desktop), more than the rest of a scenario under emulation. Each scenario
# starts from the same state: C:\quorel is put back when it takes the prefix (kernel_prefix), it
# has the drive letters defined anew (kernel_letters), and what it left running is ended after
# it (kernel_end_programs).

# kernel_session_start root|user: the session's prefix (root's is the prepared prefix itself, on
# the guest's disk whose writes end with the boot; the ordinary user's a linked copy) with a
# wineserver of that user that stays until kernel_session_end; its output goes to
# $E2E_WORK/wine-root|user.log. The session's mount manager, started once, keeps its drive
# letters: each scenario has it define them (kernel_letters).
kernel_session_start() {
  local user prefix KERNEL_RUN_AS log=$E2E_WORK/wine-$1.log
  read -r user prefix <<<"$(kernel_session "$1")"
  kernel_run_as "$user"
  if [ "$prefix" != "$KERNEL_PREFIX" ]; then
    # Hard links to the prepared prefix's files, which stay root's and which Wine only reads (a
    # copy costs seconds under emulation); the folders and the registry, which the user's Wine
    # writes, are the user's own.
    rm -rf "$prefix"
    cp -al "$KERNEL_PREFIX" "$prefix" &&
      cp --remove-destination "$KERNEL_PREFIX"/*.reg "$prefix/" &&
      chown "$user:" "$prefix"/*.reg &&
      find "$prefix" -type d -exec chown "$user:" {} + || return 1
    # Debian's Wine names the server's folder under /tmp in the prefix: root's is not the user's.
    rm -f "$prefix/wineserver"
  fi
  (
    export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
    # Returns once the server listens, itself in a session of its own.
    wineserver -p </dev/null >>"$log" 2>&1 || exit 1
    # The first process boots the session: wineboot, the services, the mount manager.
    timeout -k 5 "$E2E_BOOT_LIMIT" "${KERNEL_RUN_AS[@]}" /usr/bin/wine reg query \
      'HKLM\Software\Wine\Drives' </dev/null >>"$log" 2>&1
  ) || {
    echo "kernel_session_start: the session of $user did not start: $(tail -3 "$log")" >&2
    return 1
  }
}

# kernel_session_end root|user: ends the session's server and every process in it.
kernel_session_end() {
  local user prefix KERNEL_RUN_AS
  read -r user prefix <<<"$(kernel_session "$1")"
  kernel_run_as "$user"
  [ -d "$prefix" ] || return 0
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
}

# kernel_session root|user: the session's user and prefix.
kernel_session() {
  if [ "$1" = root ]; then
    echo "root $KERNEL_PREFIX"
  else
    echo "$KERNEL_USER $KERNEL_USER_PREFIX"
  fi
}

# kernel_prefix DIR: the session prefix DIR as every scenario starts with it: C:\quorel holding
# the window driver only; exports WINEPREFIX.
kernel_prefix() {
  rm -rf "$1/drive_c/quorel"
  mkdir -p "$1/drive_c/quorel"
  cp "$E2E_WIN32/tests/e2e/quorel-uidriver.exe" "$1/drive_c/quorel/"
  chown -R --reference="$1/dosdevices" "$1/drive_c/quorel"
  export WINEPREFIX=$1 WINEARCH=win32 WINEDEBUG=-all
}

# kernel_as_user: from now on Wine runs as the ordinary user "quorel" (member of the group
# cdrom, which owns the drives' device nodes as on a desktop), in that user's session; the
# flasher installed so far comes along.
kernel_as_user() {
  local installed=$WINEPREFIX/drive_c/quorel/quorel.exe
  kernel_prefix "$KERNEL_USER_PREFIX"
  if [ -f "$installed" ]; then
    cp "$installed" "$WINEPREFIX/drive_c/quorel/" &&
      chown "$KERNEL_USER:" "$WINEPREFIX/drive_c/quorel/quorel.exe"
  fi
  kernel_run_as "$KERNEL_USER"
}

# kernel_run_as USER: KERNEL_RUN_AS runs commands as USER, with that user's home (as is for root).
kernel_run_as() {
  KERNEL_RUN_AS=()
  [ "$1" = root ] ||
    KERNEL_RUN_AS=(setpriv --reuid="$1" --regid="$1" --init-groups env HOME="/home/$1" USER="$1")
}

# kernel_end_programs: ends what the last scenario left running under Wine (the program, a window
# driver: whatever runs from C:\quorel), as either user, and waits until it is gone; the
# sessions' own processes stay.
kernel_end_programs() {
  local pid pids
  # A pattern that its own command line does not match.
  mapfile -t pids < <(grep -lai 'C:\\quorel\\' /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3)
  [ ${#pids[@]} -gt 0 ] || return 0
  for pid in "${pids[@]}"; do
    echo "kernel_end_programs: ending $pid: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
  done
  kill -KILL "${pids[@]}" 2>/dev/null
  local limit=$(($(date +%s) + 10))
  for pid in "${pids[@]}"; do
    # Gone, or a zombie that only its parent's end will clear.
    while [ -e "/proc/$pid" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$pid/status" 2>/dev/null &&
      [ "$(date +%s)" -lt "$limit" ]; do
      sleep 0.1
    done
  done
}

# kernel_drives: serves the drives of $SCN_DIR/machine.ini to the kernel and names their drive
# letters in the order of their numbers ($SCN_DIR/drives). The log, images and state go where
# the ASPI manager puts them ($SCN_DIR/sim.log ...).
kernel_drives() {
  local numbers n device index=0
  numbers=$(sed -n 's/^[[:space:]]*\[drive\([0-9]*\)\].*/\1/p' "$SCN_DIR/machine.ini" | sort -nu)
  [ -n "$numbers" ] || {
    fail "kernel_drives: no drive in machine.ini"
    return 1
  }
  for n in $numbers; do
    device=$KERNEL_TCMU/quorel$n
    mkdir -p "$device" &&
      printf 'dev_config=quorel/%d,dev_size=1048576' "$n" >"$device/control" &&
      echo 1 >"$device/enable" || {
      fail "kernel_drives: cannot configure the TCMU device of drive $n"
      return 1
    }
  done
  # The handler maps every ring before it says ready; only then may the kernel send commands.
  "$KERNEL_BIN/quorel-tcmu-drive" "$SCN_DIR/machine.ini" "$SCN_DIR/sim.log" "$SCN_DIR/ready" \
    >>"$SCN_DIR/handler.out" 2>&1 &
  echo $! >"$SCN_DIR/handler.pid"
  local limit=$(($(date +%s) + 20))
  until [ -f "$SCN_DIR/ready" ]; do
    if ! kill -0 "$(cat "$SCN_DIR/handler.pid")" 2>/dev/null || [ "$(date +%s)" -ge "$limit" ]; then
      fail "kernel_drives: the TCMU handler did not become ready: $(tail -2 "$SCN_DIR/handler.out")"
      return 1
    fi
    sleep 0.1
  done
  for n in $numbers; do
    local lun=$((n - 1)) node
    mkdir -p "$KERNEL_LOOP/lun/lun_$lun" &&
      ln -s "$KERNEL_TCMU/quorel$n" "$KERNEL_LOOP/lun/lun_$lun/quorel$n" || {
      fail "kernel_drives: cannot link drive $n as LUN $lun"
      return 1
    }
    node=$(kernel_node "$lun") || {
      fail "kernel_drives: no sr device for LUN $lun"
      return 1
    }
    local letter=${KERNEL_LETTERS[index]}
    index=$((index + 1))
    chgrp cdrom "$node" && chmod 660 "$node"
    # No media polling (unless KERNEL_POLL_MS asks for it, as a desktop would): the kernel then
    # sends its own commands only when the device is opened and closed, which program_lines can
    # tell from the program's.
    echo "${KERNEL_POLL_MS:-0}" >"/sys/block/${node#/dev/}/events_poll_msecs"
    echo "drive $n: LUN $lun, $node, ${letter^^}:" >>"$SCN_DIR/drives"
  done
}

# kernel_node LUN: the sr device node of the loop target's LUN, once the kernel has made it.
kernel_node() {
  local limit=$(($(date +%s) + 30)) dir
  while [ "$(date +%s)" -lt "$limit" ]; do
    for dir in /sys/bus/scsi/devices/*:0:1:"$1"/block/sr*; do
      if [ -e "$dir" ] && [ -b "/dev/${dir##*/}" ]; then
        echo "/dev/${dir##*/}"
        return 0
      fi
    done
    sleep 0.2
  done
  return 1
}

# kernel_teardown: ends the programs left running, unlinks the LUNs, ends the handler and removes
# the TCMU devices, so that the next scenario starts from none. Run by the runner after each
# scenario.
kernel_teardown() {
  kernel_end_programs
  local lun link device pid
  for lun in "$KERNEL_LOOP"/lun/lun_*; do
    [ -d "$lun" ] || continue
    for link in "$lun"/*; do
      if [ -L "$link" ]; then rm -f "$link"; fi
    done
    rmdir "$lun" || echo "kernel_teardown: cannot remove $lun" >&2
  done
  if [ -f "$SCN_DIR/handler.pid" ]; then
    pid=$(cat "$SCN_DIR/handler.pid")
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  for device in "$KERNEL_TCMU"/quorel*; do
    if [ -d "$device" ]; then rmdir "$device" || echo "kernel_teardown: cannot remove $device" >&2; fi
  done
}

# kernel_mark: has the handler write MARK into its log, and waits until it is there.
kernel_mark() {
  local pid
  pid=$(cat "$SCN_DIR/handler.pid" 2>/dev/null) && kill -USR1 "$pid" || {
    fail "no TCMU handler to mark"
    return 1
  }
  local limit=$(($(date +%s) + 10))
  until grep -q '^MARK ' "$SCN_DIR/sim.log" 2>/dev/null; do
    [ "$(date +%s)" -lt "$limit" ] || {
      fail "the handler did not mark its log"
      return 1
    }
    sleep 0.1
  done
}

# kernel_letters: has the session's mount manager make the drives of kernel_drives the CD-ROM
# drives of their letters, as it does on a desktop when a drive appears (it reads each drive
# then), and forget the other letters, whatever an earlier scenario left.
kernel_letters() {
  local letter line node words=()
  for letter in "${KERNEL_LETTERS[@]}"; do
    node=""
    while IFS= read -r line; do
      [[ $line =~ ^drive\ [0-9]+:\ LUN\ [0-9]+,\ (.*),\ ${letter^^}:$ ]] && node=${BASH_REMATCH[1]}
    done <"$SCN_DIR/drives"
    [ ${#words[@]} -eq 0 ] || words+=(",")
    if [ -n "$node" ]; then
      mkdir -p "/tmp/mnt-$letter"
      words+=(define-drive "$letter" cdrom "$node" "/tmp/mnt-$letter")
    else
      words+=(define-drive "$letter" none)
    fi
  done
  drv "${words[@]}" >/dev/null || {
    fail "cannot define the drive letters: $(tail -1 "$SCN_DIR/transcript")"
    return 1
  }
}

# start_quorel [WINEDEBUG]: defines the drive letters, marks the handler's log, then runs
# C:\quorel\quorel.exe without an ASPI manager (Wine's own disabled): the program takes the
# pass-through.
start_quorel() {
  local debug=${1:--all}
  kernel_letters || return 1
  kernel_mark || return 1
  (
    cd "$WINEPREFIX/drive_c/quorel" &&
      WINEDLLOVERRIDES=wnaspi32=d WINEDEBUG=$debug exec "${KERNEL_RUN_AS[@]}" /usr/bin/wine 'C:\quorel\quorel.exe'
  ) >>"$SCN_DIR/quorel.out" 2>&1 &
  # shellcheck disable=SC2034  # wait_quorel of tests/e2e/lib.sh waits for it
  QUOREL_PID=$!
}

# ---- quorel-flash, natively ----

# expect_json FILE FILTER EXPECTED: checked on the host once the guest is done (the guest has no
# JSON parser): jq -r FILTER of the case's FILE must print EXPECTED.
expect_json() {
  printf '%s\t%s\t%s\n' "$1" "$2" "$3" >>"$SCN_DIR/json-expect"
}

# run_flash ARGS...: marks the handler's log, then runs quorel-flash ARGS with no input (as the
# ordinary user after kernel_as_user); its output goes to flash.out (with FLASH_STDOUT set, its
# standard output there instead), its exit code to FLASH_STATUS, its wall time in milliseconds
# to FLASH_MS.
run_flash() {
  FLASH_STATUS=none
  kernel_mark || return 1
  local started
  started=$(date +%s%N)
  FLASH_STATUS=0
  # Both appended, so that the lines of the two streams keep their order in one file.
  : >"$SCN_DIR/flash.out"
  : >"${FLASH_STDOUT:-$SCN_DIR/flash.out}"
  timeout -k 5 240 "${KERNEL_RUN_AS[@]}" "$KERNEL_BIN/quorel-flash" "$@" </dev/null \
    >>"${FLASH_STDOUT:-$SCN_DIR/flash.out}" 2>>"$SCN_DIR/flash.out" || FLASH_STATUS=$?
  FLASH_MS=$((($(date +%s%N) - started) / 1000000))
  echo "quorel-flash $*: exit $FLASH_STATUS after $FLASH_MS ms"
}

# expect_said TEXT: quorel-flash printed TEXT (in the window driver's escaped form, \n a line
# feed) as whole lines.
expect_said() {
  local text
  text=$(printf '%b' "$1")
  [[ $'\n'$(cat "$SCN_DIR/flash.out")$'\n' == *$'\n'"$text"$'\n'* ]] ||
    fail "quorel-flash did not print [$1]"
}

# Without a display in the guest no icon is drawn: the window driver names the icon its caption
# implies, marked "?" (expect_dialog of tests/e2e/lib.sh).
E2E_ICON_MARK="?"

# What follows the failure report when the system refused a command with access denied, in the
# window driver's escaped form.
# shellcheck disable=SC2034  # used by the scenarios
ACCESS_DENIED='\n\nThe system refused a command to the drive: this program lacks the rights to send it. Run it as administrator (under Wine on Linux, as root).'
# quorel-flash's own wording of it.
ACCESS_DENIED_AS_ROOT='\n\nThe system refused a command to the drive: this program lacks the rights to send it. Run it as root.'
# What follows the failure report when a drive did not confirm the final command.
UNCONFIRMED='\n\nA drive did not confirm the final command and may have been updated all the same. Restart the computer, then check the firmware revision the drive reports.'

# ---- The program's commands among the kernel's ----

# Every open of an sr device sends GET EVENT STATUS NOTIFICATION (this CDB) and then TEST UNIT
# READY; the last close sends PREVENT ALLOW MEDIUM REMOVAL (1Eh). The scenarios here never send
# that GET EVENT STATUS themselves nor 1Eh.
KERNEL_OPEN_CDB=4A0100001000000008000000

# program_lines DRIVE: "open cdb dir len t hash cdblen" of each command the program sent to the
# drive after the log's MARK, in order; "open" counts the device's opens, so the commands sent
# through one handle share it.
program_lines() {
  awk -v drive="$1" -v opencdb="$KERNEL_OPEN_CDB" '
    /^MARK / { marked = 1; next }
    !marked || !/^EXEC / { next }
    {
      delete v
      for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      if (v["drive"] != drive) next
      if (v["cdb"] == opencdb) { ++opens; opening = 1; next }
      if (opening && v["cdb"] ~ /^00/) { opening = 0; next }
      opening = 0
      if (v["cdb"] ~ /^1E/) next
      print opens + 0, v["cdb"], v["dir"], v["len"], v["t"], v["hash"], v["cdblen"]
    }' "$SCN_DIR/sim.log" 2>/dev/null
}

# drives_ready: kernel_drives.
drives_ready() {
  kernel_drives
}

# check_cdb_lengths DRIVE: nothing to check: the target logs each CDB at its command's standard
# length, whatever the program gave.
check_cdb_lengths() { :; }

# fnv1a FILE [BLOCK]: FNV-1a 64 of FILE, or of each BLOCK bytes of it, as the drives hash.
fnv1a() {
  "$KERNEL_BIN/quorel-tcmu-drive" --fnv1a "$@"
}

# check_reset_recovered DRIVE [program]: the drive reset after its first pass of read-backs; its
# unit attention was taken by someone other than the program (the kernel's media poll) before the
# program's whole read-back pass, or with "program" it went to the program's own next command, the
# whole pass's first read. The pass found the buffer lost, the download then started over from
# the preparation as an undisturbed one, the final command went once, and the drive programmed
# once, exactly the packaged image with the part block it was sent. Notes the time from the first
# WRITE BUFFER to the final command.
check_reset_recovered() {
  local lines
  lines=$(exec_lines "$1")
  local taken pass
  taken=$(awk '/ sense=6\/29\// { print NR; exit }' <<<"$lines")
  pass=$(awk '/ cdb=3C0101/ && ++n == 65 { print NR; exit }' <<<"$lines")
  if [ "${2:-}" = program ]; then
    [ -n "$taken" ] && [ "$taken" = "$pass" ] ||
      fail "drive $1: the unit attention (line ${taken:-none}) did not go to the whole read-back's first read (line ${pass:-none})"
  else
    [ -n "$taken" ] && [ -n "$pass" ] && [ "$taken" -lt "$pass" ] ||
      fail "drive $1: the unit attention (line ${taken:-none}) was not taken before the whole read-back (line ${pass:-none})"
    grep -Eq ' cdb=(4A|00)' <<<"$(sed -n "${taken:-0}p" <<<"$lines")" ||
      fail "drive $1: the unit attention went to another command than the kernel's poll"
  fi
  # The commands after it, less the kernel's polls: the pass's reads from the first block on,
  # until one found the buffer lost, then the whole download anew.
  awk -v from="${taken:-0}" 'NR > from && !/ cdb=4A/ {
      for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      print v["cdb"], v["dir"], v["len"]
      if (v["cdb"] ~ /^3B0501000000000000/) exit
    }' <<<"$lines" >"$SCN_DIR/restart$1"
  local reads
  reads=$(awk '$1 != sprintf("3C0101%06X004000000000", (NR - 1) * 16384) { exit }
    { n = NR } END { print n + 0 }' "$SCN_DIR/restart$1")
  [ "${2:-}" = program ] || [ "$reads" -ge 1 ] ||
    fail "drive $1: no read of the whole pass right after the reset"
  tail -n +$((reads + 1)) "$SCN_DIR/restart$1" | diff - <(expected_download A0 1240) \
    >"$SCN_DIR/restart$1.diff" ||
    fail "drive $1: the download after the reset differs (restart$1.diff)"
  expect_eq "$(grep -c ' cdb=3B0501000000000000' <<<"$lines")" 1 "drive $1: final commands"
  local parts part_hash
  parts=$(grep ' cdb=3B0501000000[0-9A-F]\{6\}7F' <<<"$lines")
  expect_eq "$(grep -c . <<<"$parts")" 2 "drive $1: part blocks sent (the download started over)"
  part_hash=$(head -1 <<<"$parts" | field hash)
  expect_eq "$(tail -1 <<<"$parts" | field hash)" "$part_hash" "drive $1: the part block sent again"
  expect_eq "$(count_log "^PROGRAM drive=$1 ")" 1 "drive $1: programmings"
  expect_eq "$(grep "^PROGRAM drive=$1 " "$SCN_DIR/sim.log" | field part)" "1240:$part_hash" \
    "drive $1: the part block held when programming"
  cmp -s "$SCN_DIR/sim.log.drive$1.bin" "$E2E_WORK/pkg/demo-fw.bin" ||
    fail "drive $1: the programmed image is not the packaged image"
  awk '/ cdb=3B/ && !first { first = $2 } / cdb=3B0501000000000000/ { last = $2 }
    END { sub(/t=/, "", first); sub(/t=/, "", last)
      printf "update with a reset: %d ms from the first WRITE BUFFER to the final command" \
        ", the download started over once\n", last - first }' \
    <<<"$lines" >>"$SCN_DIR/note"
}

# note_update_time DRIVE LATENCY_MS: notes quorel-flash's wall time (run_flash) against the
# drive's own: each command took it LATENCY_MS, and the download waits 1 s before the final
# command. The whole run: every command after the mark; the download alone: from its first
# command to the end of the final command.
note_update_time() {
  local commands download download_ms
  commands=$(awk '/^MARK /{ m = 1 } m && /^EXEC /' "$SCN_DIR/sim.log" | wc -l)
  download=$(download_lines "$1" | wc -l)
  download_ms=$(download_lines "$1" | awk -v lat="$2" 'NR == 1 { first = $4 }
    $1 ~ /^3B0501000000000000/ { last = $4 } END { print last + lat - first }')
  awk -v wall="$FLASH_MS" -v c="$commands" -v d="$download" -v dms="$download_ms" -v lat="$2" '
    BEGIN {
      drive = c * lat + 1000; ddrive = d * lat + 1000
      printf "update: %d ms wall, drive %d ms (%d commands x %d ms + 1000 ms settle): ratio %.2f\n",
        wall, drive, c, lat, wall / drive
      printf "download alone: %d ms, drive %d ms (%d commands x %d ms + 1000 ms): ratio %.2f\n",
        dms, ddrive, d, lat, dms / ddrive
    }' >>"$SCN_DIR/note"
}
