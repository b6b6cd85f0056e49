# shellcheck shell=bash
# What every test case shares, whichever harness runs it: the packages, the window driver and the
# checks, the expected download and its check, the texts, and how a case says where it runs.
# Each harness sources this first, then its binding, which adds the same few functions for its
# own machine: tests/e2e/lib.sh (quorel.exe under Wine against the test ASPI manager, on the
# host) and tests/kernel/lib.sh (a real kernel's SCSI stack in a QEMU guest, for quorel.exe under
# Wine and for quorel-flash). A binding provides:
#   start_quorel [WINEDEBUG [ARGS...]]  start C:\quorel\quorel.exe in the background
#   drives_ready                        serve the drives of machine.ini (false: the case ends)
#   program_lines DRIVE                 "handle cdb dir len t hash cdblen" of each command the
#                                       program sent to DRIVE, in order (handle: what sent it,
#                                       a thread or an open of the device)
#   fnv1a FILE [BLOCK]                  FNV-1a 64 of FILE, or of each BLOCK bytes of it
#   check_cdb_lengths DRIVE             the program sent DRIVE 12-byte CDBs only, where it can tell
# Expects: E2E_ROOT (repository), E2E_WORK (scratch directory), E2E_WIN32 (Windows build),
# E2E_PACK (quorel-pack), and SCN_DIR (the running case's folder).

# shellcheck disable=SC2034  # the texts at the end are used by the cases

e2e_log() { printf '%s\n' "$*" >&2; }

# ---- Where a case runs ----

# A case file says on its first line of code which front ends it runs on ("case_on FRONT ..."):
#   aspi    quorel.exe under Wine against the test ASPI manager (tests/e2e, on the host)
#   wine    quorel.exe under Wine through the kernel's pass-through (tests/kernel, in the guest)
#   flash   quorel-flash through SG_IO (tests/kernel, in the guest)
# and runs with FRONT set to the one at hand.
case_on() {
  [[ " $* " == *" $FRONT "* ]] || fail "the case does not run on $FRONT"
}

# cases FRONT...: "SCRIPT FRONT NAME" for each run of a case on one of the FRONTs, in the cases'
# order; NAME is the case's name, with ".FRONT" added where the case runs on more than one of
# them. QUOREL_CASES_ONLY=REGEX keeps the names it matches.
cases() {
  local script fronts front name mine
  for script in "$E2E_ROOT"/tests/cases/[0-9]*.sh; do
    fronts=$(sed -n 's/^case_on //p' "$script" | head -1)
    mine=()
    for front in $fronts; do
      [[ " $* " == *" $front "* ]] && mine+=("$front")
    done
    for front in "${mine[@]}"; do
      name=$(basename "$script" .sh)
      [ "${#mine[@]}" -eq 1 ] || name=$name.$front
      if [ -n "${QUOREL_CASES_ONLY:-}" ] && ! [[ $name =~ $QUOREL_CASES_ONLY ]]; then continue; fi
      echo "$script $front $name"
    done
  done
}

# run_case SCRIPT FRONT LIMIT SETUP...: runs one case in $SCN_DIR (its failures in failures, its
# output in output) under a time limit of LIMIT seconds, after the binding's SETUP command; a
# time-out or a script that ended badly without saying why counts as a failure.
run_case() {
  local script=$1 front=$2 limit=$3
  shift 3
  if [ "$limit" -lt 10 ]; then
    fail "not run: the run's time is spent"
    return
  fi
  local status=0
  # Cases go on after a failed check: no -e inside. timeout ends the case's whole process group,
  # the Wine programs it started included.
  FRONT=$front timeout -k 10 "$limit" bash -c '
    set -uo pipefail
    source "$E2E_ROOT/$CASE_BINDING"
    "${@:2}" || exit 99
    source "$1"' case "$script" "$@" </dev/null >"$SCN_DIR/output" 2>&1 || status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    fail "timed out after ${limit}s"
  elif [ "$status" -eq 99 ]; then
    fail "the harness could not prepare the case: $*"
  elif [ "$status" -ne 0 ] && ! [ -s "$SCN_DIR/failures" ]; then
    fail "the case script ended with status $status"
  fi
}

# tail_of TITLE LINES: the last LINES lines of standard input, indented under TITLE, if any.
tail_of() {
  local text
  text=$(tail -n "$2")
  [ -n "$text" ] || return 0
  echo "    -- $1"
  sed 's/^/    | /' <<<"$text"
}

# diagnose DIR: what a failed case left, enough to see where it went wrong.
diagnose() {
  grep -E '^(DIALOG|BUTTONS|TEXT|WINDOW|ERROR) ' "$1/transcript" 2>/dev/null | cut -c1-300 |
    tail_of "the window driver's last readings (transcript)" 12
  grep -v '^EXEC ' "$1/sim.log" 2>/dev/null | tail_of "the simulated machine, other than commands (sim.log)" 6
  cut -c1-200 "$1/sim.log" 2>/dev/null | grep '^EXEC ' | tail_of "last commands (sim.log)" 6
  tail_of "the program's output (quorel.out)" 8 2>/dev/null <"$1/quorel.out"
  tail_of "quorel-flash's output (flash.out)" 8 2>/dev/null <"$1/flash.out"
  tail_of "the window driver's errors (driver.err)" 6 2>/dev/null <"$1/driver.err"
  tail_of "the handler's output (handler.out)" 6 2>/dev/null <"$1/handler.out"
  tail_of "the case's output" 8 2>/dev/null <"$1/output"
}

# print_verdict NAME VERDICT WHEN DIR: a finished case's line, "VERDICT NAME (WHEN)", and under
# it the case's notes, or its failures and the diagnosis; counts it in passed or failed, and a
# failure sets keep_logs.
print_verdict() {
  echo "$2 $1 ($3)"
  if [ "$2" = PASS ]; then
    passed=$((passed + 1))
    sed 's/^/    /' "$4/note" 2>/dev/null
  else
    failed=$((failed + 1))
    keep_logs=1
    cat "$4/failures" 2>/dev/null
    diagnose "$4"
  fi
}

# ---- Packages ----

# make_package NAME [KEY=VALUE ...]: the shipped description with some settings changed, packed
# into $E2E_WORK/pkg/NAME.exe. The template is $E2E_TEMPLATE, by default the win32 build's
# quorel.exe, which carries the placeholder part blocks: such a flasher is a demo that updates
# only the simulated drive, packed with --demo. E2E_DEMO set to empty packs without it.
make_package() {
  local name=$1
  shift
  local dir=$E2E_WORK/pkg
  mkdir -p "$dir"
  if [ ! -f "$dir/demo-fw.bin" ]; then
    "$E2E_PACK" --make-demo-image KM0P "$dir/demo-fw.bin" >/dev/null
  fi
  local ini=$dir/$name.ini
  cp "$E2E_ROOT/examples/qvx270t.ini" "$ini"
  local setting key value
  for setting in "$@"; do
    key=${setting%%=*}
    value=${setting#*=}
    grep -Eq "^[[:space:]]*${key}[[:space:]]*=" "$ini" || {
      e2e_log "make_package: no setting $key"
      return 1
    }
    sed -i -E "s/^[[:space:]]*${key}[[:space:]]*=.*/$key = $value/" "$ini"
  done
  local demo=()
  [ -z "${E2E_DEMO-1}" ] || demo=(--demo)
  "$E2E_PACK" "${demo[@]}" "${E2E_TEMPLATE:-$E2E_WIN32/src/app/win32/quorel.exe}" "$ini" \
    "$dir/$name.exe" >"$dir/$name.pack.log" 2>&1 || {
    e2e_log "make_package: quorel-pack refused $name:"
    cat "$dir/$name.pack.log" >&2
    return 1
  }
}

# make_signed_flasher: run by each runner on the host before any case (the guest has no signing
# tool): a test CA and its certificates in $E2E_WORK/pki (tests/signing/make-pki), and
# $E2E_WORK/pkg/signed.exe, the shipped package packed, then signed by the code-signing one.
make_signed_flasher() {
  "$E2E_ROOT/tests/signing/make-pki" "$E2E_WORK/pki" && make_package unsigned &&
    "$E2E_ROOT/tests/signing/sign" "$E2E_WORK/pki" signer "$E2E_WORK/pkg/unsigned.exe" \
      "$E2E_WORK/pkg/signed.exe" >"$E2E_WORK/pkg/signed.log" 2>&1 || {
    e2e_log "make_signed_flasher: failed"
    cat "$E2E_WORK/pkg/signed.log" >&2
    return 1
  }
}

# use_package NAME [KEY=VALUE ...]: make_package, then install_flasher of the result.
use_package() {
  make_package "$@" && install_flasher "$E2E_WORK/pkg/$1.exe"
}

# use_patched_package OLD NEW: the shipped package with the byte string OLD of its block replaced
# by NEW, installed; for packages that the packaging tool rightly refuses to make, and so
# unsealed, as another tool would leave them.
use_patched_package() {
  make_package shipped || return 1
  cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/patched.exe"
  patch_block "$SCN_DIR/patched.exe" "$1" "$2" || {
    fail "cannot patch $1 into $2"
    return 1
  }
  clear_seal "$SCN_DIR/patched.exe" || {
    fail "cannot clear the seal of the patched package"
    return 1
  }
  install_flasher "$SCN_DIR/patched.exe"
}

# patch_block FILE OLD NEW: replaces the byte string OLD, which must occur exactly once in FILE,
# by NEW of the same length; for packages that the packaging tool rightly refuses to make.
patch_block() {
  perl -e '
    my ($file, $old, $new) = @ARGV;
    die "patch_block: lengths differ\n" unless length($old) == length($new);
    open(my $in, "<:raw", $file) or die "$file: $!\n";
    local $/; my $data = <$in>; close $in;
    my @at; my $pos = -1;
    while (($pos = index($data, $old, $pos + 1)) >= 0) { push @at, $pos; }
    die "$file: \"$old\" found " . scalar(@at) . " times\n" unless @at == 1;
    substr($data, $at[0], length($new)) = $new;
    open(my $out, ">:raw", $file) or die "$file: $!\n";
    print $out $data; close $out;' "$1" "$2" "$3"
}

# seal_line FILE: the seal of a packed file as quorel-pack --dump reads it ("sealed, digest
# verified", "sealed, DIGEST MISMATCH", "unsealed", ...).
seal_line() {
  "$E2E_PACK" --dump "$1" | sed -n -E 's/^; ((un)?sealed.*|seal record.*)$/\1/p'
}

# flip_byte FILE OFFSET: inverts the lowest bit of the byte at OFFSET of FILE, as a damaged or
# changed copy would have it.
flip_byte() {
  perl -e '
    my ($file, $at) = @ARGV;
    open(my $f, "+<:raw", $file) or die "$file: $!\n";
    seek($f, $at, 0) or die; read($f, my $byte, 1) == 1 or die "$file: no byte at $at\n";
    seek($f, $at, 0) or die; print $f chr(ord($byte) ^ 1); close $f or die;' "$1" "$2"
}

# flip_block_byte FILE OFFSET: flip_byte at OFFSET of FILE's package block.
flip_block_byte() {
  local block
  block=$("$E2E_PACK" --dump "$1" | sed -n 's/^; package block of .* at file offset \([0-9]*\)$/\1/p')
  [ -n "$block" ] && flip_byte "$1" $((block + $2))
}

# clear_seal FILE: sets FILE's seal record to "unsealed" (format version and digest zero), as a
# packing tool that knows no seal leaves it.
clear_seal() {
  perl -e '
    my ($file) = @ARGV;
    my $marker = "QUOREL:SEAL:REC\0";
    open(my $in, "<:raw", $file) or die "$file: $!\n";
    local $/; my $data = <$in>; close $in;
    my @at; my $pos = -1;
    while (($pos = index($data, $marker, $pos + 1)) >= 0) { push @at, $pos; }
    die "$file: seal record found " . scalar(@at) . " times\n" unless @at == 1;
    substr($data, $at[0] + 16, 36) = "\0" x 36;
    open(my $out, ">:raw", $file) or die "$file: $!\n";
    print $out $data; close $out;' "$1"
}

# Time limits of the Wine set-up steps, which could otherwise hang a run.
E2E_BOOT_LIMIT=${E2E_BOOT_LIMIT:-240}  # seconds
E2E_STEP_LIMIT=${E2E_STEP_LIMIT:-60}

# wine_idle: waits until the current prefix's wineserver has ended (registry written back).
wine_idle() {
  timeout -k 5 "$E2E_STEP_LIMIT" wineserver -w || {
    e2e_log "wineserver of $WINEPREFIX did not end; killing it"
    wineserver -k 2>/dev/null
    return 1
  }
}

# wine_reg ARGS...: the registry tool of the current prefix.
wine_reg() {
  timeout -k 5 "$E2E_STEP_LIMIT" wine reg "$@" </dev/null >/dev/null 2>&1 || {
    e2e_log "wine reg $* failed"
    return 1
  }
}

# set_windows_version win98|winxp|...: what GetVersionExA reports in the current prefix.
set_windows_version() {
  wine_reg add 'HKCU\Software\Wine' /v Version /d "$1" /f && wine_idle ||
    fail "cannot set the Windows version $1"
}

# ---- The program ----

# install_flasher EXE: the packed program as C:\quorel\quorel.exe of the current prefix.
install_flasher() {
  cp "$1" "$WINEPREFIX/drive_c/quorel/quorel.exe"
}

# sim_scenario: the simulated machine (scenario file format, from stdin) for the next runs.
sim_scenario() {
  cat >"$SCN_DIR/machine.ini"
}

# sim_drive N ADDRESS [KEY=VALUE ...]: drive N of the simulated machine, at ADDRESS
# (adapter:target:lun), with the scenario format's settings; drive 1 starts the machine anew.
sim_drive() {
  local setting
  [ "$1" != 1 ] || : >"$SCN_DIR/machine.ini"
  {
    printf '[drive%s]\naddress = %s\n' "$1" "$2"
    for setting in "${@:3}"; do printf '%s = %s\n' "${setting%%=*}" "${setting#*=}"; done
  } >>"$SCN_DIR/machine.ini"
}
# The settings of a drive of another make.
OTHER_MAKE=('vendor="ACMEDISK"' 'product="CD-RW 52X"' revision=1.00)

# expect_unseen SECONDS: the program started last shows no window and no dialog at any time
# until it has ended (SECONDS at most); then as wait_quorel.
expect_unseen() {
  drv unseen "$1" "Z:$SCN_DIR/quorel.ended" >/dev/null ||
    fail "a silent run: $(tail -1 "$SCN_DIR/transcript")"
  wait_quorel 30 || fail "the program did not end"
}

# wait_quorel SECONDS: waits for the program started last to end; false on time-out. Its exit
# status (the program's exit code modulo 256) is then in QUOREL_STATUS.
wait_quorel() {
  local limit=$(($(date +%s) + $1))
  while kill -0 "$QUOREL_PID" 2>/dev/null; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep 0.2
  done
  QUOREL_STATUS=0
  wait "$QUOREL_PID" 2>/dev/null || QUOREL_STATUS=$?
}

# drv ARGS...: the window driver; its output also goes to the scenario's transcript.
drv() {
  local out status
  out=$(wine 'C:\quorel\quorel-uidriver.exe' ${DRV_DESKTOP:+--desktop "$DRV_DESKTOP"} "$@" \
    2>>"$SCN_DIR/driver.err" | tr -d '\r')
  status=${PIPESTATUS[0]}
  printf '%s\n' "$out" >>"$SCN_DIR/transcript"
  printf '%s\n' "$out"
  return "$status"
}

# ---- Checks ----

fail() {
  printf '    %s\n' "$*" >>"$SCN_DIR/failures"
}

expect_eq() {  # ACTUAL EXPECTED WHAT
  [ "$1" == "$2" ] || fail "$3: got [$1], want [$2]"
}

# expect_dialog CAPTION ICON TEXT [SECONDS]: the next message dialog, TEXT in the driver's
# escaped form (\n for a line feed); ICON followed by E2E_ICON_MARK where that is set.
expect_dialog() {
  local out
  if ! out=$(drv wait-dialog "${4:-60}"); then
    fail "no dialog \"$3\": $(printf '%s' "$out" | tail -1)"
    return 1
  fi
  expect_eq "$(sed -n 's/^DIALOG caption=\(.*\) icon=.*/\1/p' <<<"$out")" "$1" "dialog caption"
  expect_eq "$(sed -n 's/^DIALOG .* icon=\(.*\)$/\1/p' <<<"$out")" "$2${E2E_ICON_MARK:-}" "dialog icon"
  expect_eq "$(sed -n 's/^TEXT //p' <<<"$out")" "$3" "dialog text"
}

answer() {  # yes|no|ok
  drv answer "$1" >/dev/null || fail "could not answer $1"
}

# expect_report CAPTION ICON TEXT [SECONDS]: expect_dialog, answered OK.
expect_report() {
  expect_dialog "$@" && answer ok
}

# accept_notice: the start-up notice, answered Yes.
accept_notice() {
  expect_dialog Warning exclamation "$NOTICE" && answer yes
}

# close_window: the Close button, and the program ends.
close_window() {
  click Close
  expect_exit 30
}

click() {  # BUTTON: Update or Close
  drv click "$1" >/dev/null || fail "cannot click $1"
}

control_text() {  # NAME
  drv text "$1" | sed -n 's/^TEXT //p'
}

expect_text() {  # NAME EXPECTED
  expect_eq "$(control_text "$1")" "$2" "$1"
}

# control_field NAME FIELD [CONTROLS]: a field (enabled, visible, ink, ..., text last) of the
# control's CONTROL line, from the output of "drv controls" when given, else read now.
control_field() {
  local controls=${3-$(drv controls)}
  if [ "$2" == text ]; then
    sed -n "s/^CONTROL name=$1 .* text=//p" <<<"$controls"
  else
    sed -n "s/^CONTROL name=$1 .* $2=\([^ ]*\).*/\1/p" <<<"$controls"
  fi
}

# expect_controls WHEN NAME:FIELD=VALUE ...: the window's controls, read once, have these fields
# (as control_field gives them); WHEN names the moment in the failures.
expect_controls() {
  local controls want
  controls=$(drv controls)
  for want in "${@:2}"; do
    local name=${want%%:*} rest=${want#*:}
    expect_eq "$(control_field "$name" "${rest%%=*}" "$controls")" "${rest#*=}" "$1: $name ${rest%%=*}"
  done
}

expect_exit() {  # SECONDS
  wait_quorel "${1:-30}" || fail "the program did not end"
}

# ---- The simulated machine's log ----

# exec_lines [DRIVE]: the commands executed, optionally for one drive number.
exec_lines() {
  if [ -n "${1:-}" ]; then
    grep "^EXEC .* drive=$1 " "$SCN_DIR/sim.log" 2>/dev/null || true
  else
    grep '^EXEC ' "$SCN_DIR/sim.log" 2>/dev/null || true
  fi
}

field() {  # NAME: the value of NAME=... on each input line
  sed -n "s/.* $1=\([^ ]*\).*/\1/p"
}

# expect_untouched: the program did not call the ASPI manager at all.
expect_untouched() {
  [ ! -s "$SCN_DIR/sim.log" ] || fail "the ASPI manager was used: $(head -3 "$SCN_DIR/sim.log" | tr '\n' '|')"
}

# writes_to [DRIVE]: number of WRITE BUFFER commands the drive (or all drives) received.
writes_to() {
  exec_lines "${1:-}" | field cdb | grep -c '^3B' || true
}

# expect_nothing_written: no drive received a WRITE BUFFER, and none was programmed.
expect_nothing_written() {
  expect_eq "$(writes_to)" 0 "WRITE BUFFER commands"
  expect_eq "$(count_log '^PROGRAM ')" 0 "drives programmed"
}

# download_lines DRIVE: "cdb dir len t hash cdblen" of the program's download to DRIVE: from the
# first command on the handle (or thread) that carried its first WRITE BUFFER to its last final
# program command (or its last command when none came), with whatever else the drive received in
# between.
download_lines() {
  program_lines "$1" | awk '
    { h[NR] = $1; line[NR] = $2 " " $3 " " $4 " " $5 " " $6 " " $7 }
    !handle && $2 ~ /^3B/ { handle = $1 }
    END {
      if (!handle) exit
      for (i = 1; i <= NR; ++i) if (h[i] == handle) { if (!first) first = i; last = i }
      for (i = first; i <= last; ++i) if (h[i] == handle && line[i] ~ /^3B0501000000000000(80|A0)/) final = i
      if (final) last = final
      for (i = first; i <= last; ++i) print line[i]
    }'
}

# download_stream DRIVE: "cdb dir len" of each command of the program's download to DRIVE.
download_stream() {
  download_lines "$1" | cut -d' ' -f1-3
}

# program_count DRIVE REGEX: how many of the program's CDBs to the drive match.
program_count() {
  program_lines "$1" | awk -v re="$2" '$2 ~ re { ++n } END { print n + 0 }'
}

# expected_download CONTROL PARTBLOCK_LENGTH [FAILED]: the download of the 1 MiB image to a drive
# that is not becoming ready (one TEST UNIT READY, then one more) and whose part block goes out
# with control 7Fh: each block written and read back, then the whole image read back once more,
# then the final command, whose control is CONTROL. FAILED attempts whose flash part identity read
# failed come first.
expected_download() {
  local attempt
  for ((attempt = 0; attempt <= ${3:-0}; ++attempt)); do
    printf '000000000000000000000000 none 0\n%.0s' 1 2
    printf '1B0000000000000000000000 none 0\n'
    printf 'DF1100000000000000000000 in 128\n'
  done
  printf '3B0501000000%06X7F0000 out %d\n' "$2" "$2"
  local n
  for ((n = 0; n < 64; ++n)); do
    printf '3B0501%06X004000000000 out 16384\n' $((n * 16384))
    printf '3C0101%06X004000000000 in 16384\n' $((n * 16384))
  done
  for ((n = 0; n < 64; ++n)); do
    printf '3C0101%06X004000000000 in 16384\n' $((n * 16384))
  done
  printf '3B0501000000000000%s0000 none 0\n' "$1"
}

# check_download DRIVE CONTROL PARTBLOCK_LENGTH [FAILED]: the drive's download is exactly the
# expected command stream (see expected_download), the final command came once in the whole run,
# the download waited a second before the whole read-back pass, the program's CDBs had 12 bytes
# where the binding can tell, and the 64 blocks written and the programmed image are the packaged
# image.
check_download() {
  download_lines "$1" >"$SCN_DIR/download$1"
  if ! diff <(cut -d' ' -f1-3 "$SCN_DIR/download$1") <(expected_download "$2" "$3" "${4:-0}") \
    >"$SCN_DIR/stream$1.diff"; then
    fail "drive $1: command stream differs from the download sequence (stream$1.diff):"
    head -6 "$SCN_DIR/stream$1.diff" | while IFS= read -r line; do fail "  $line"; done
  fi
  expect_eq "$(program_count "$1" '^3B0501000000000000')" 1 "drive $1: final commands"
  check_cdb_lengths "$1"
  local read_at pass_at
  read_at=$(awk '$1 ~ /^3C0101/ && ++n == 64 { print $4 }' "$SCN_DIR/download$1")
  pass_at=$(awk '$1 ~ /^3C0101/ && ++n == 65 { print $4 }' "$SCN_DIR/download$1")
  [ -n "$read_at" ] && [ -n "$pass_at" ] && [ $((pass_at - read_at)) -ge 1000 ] ||
    fail "drive $1: whole read-back from ${pass_at:-?} ms, last block read back at ${read_at:-?} ms: no second between"
  local want got
  want=$(fnv1a "$E2E_WORK/pkg/demo-fw.bin" 16384)
  got=$(awk 'substr($1, 1, 6) == "3B0501" && substr($1, 13, 6) == "004000" { print $5 }' \
    "$SCN_DIR/download$1")
  expect_eq "$(tr 'a-f\n' 'A-F ' <<<"$got")" "$(tr 'a-f\n' 'A-F ' <<<"$want")" \
    "drive $1: hashes of the 64 blocks written"
  cmp -s "$SCN_DIR/sim.log.drive$1.bin" "$E2E_WORK/pkg/demo-fw.bin" ||
    fail "drive $1: the programmed image is not the packaged image"
}

# check_overlap DRIVE DRIVE: each drive's first image block was written before the other's last,
# so the two downloads ran side by side.
check_overlap() {
  local first1 last1 first2 last2
  read -r first1 last1 <<<"$(image_writes "$1")"
  read -r first2 last2 <<<"$(image_writes "$2")"
  [ "${first1:-0}" -lt "${last2:-0}" ] && [ "${first2:-0}" -lt "${last1:-0}" ] ||
    fail "the downloads to drives $1 and $2 did not overlap"
}

# image_writes DRIVE: the times of the first and the last image block written to the drive.
image_writes() {
  program_lines "$1" | awk '$2 ~ /^3B0501/ && substr($2, 13, 6) == "004000" {
      if (first == "") first = $5
      last = $5
    } END { print first, last }'
}

# ---- Texts the scenarios expect, in the driver's escaped form ----

NOTICE='This flash utility only supports TARN-EX DVDRW QVX-270T drive.\n\nNOTICE : \n\n1> Please REMOVE disc and close all applications before running this utility !\n2> Don'"'"'t turn off the system while flash is in progress. \n\nDo you wish to continue ?'
NO_MATCH='No matched drive detected !\nThis utility is only for TARN-EX DVDRW QVX-270T drive.\n\nDetected drives :\n'
SUCCESS='Firmware has been updated successfully !'
FAILURE='Unable to flash firmware. Please contact with your vendor !'
DAMAGED_PACKAGE='The firmware package carried in this program is damaged (its checksum does not match). Download the update again.'
PLACEHOLDER_REFUSED='\n\nNothing was sent to the drive: this program carries placeholder part blocks, not the drive maker'"'"'s data, and updates only the simulated test drive.'
WILL_BE_UPDATED='It will be updated from             to'
NOT_ALLOWED='This drive is not allowed to be updated.'
NAVY=000080
MAROON=800000
BLACK=000000

# drive_line ADAPTER PATH TARGET LUN ROOT IDENT REVISION: a line of the drive list.
drive_line() {
  printf '%2d-%d-%d-%d %.2s%24s %4s' "$@"
}

# start_ready_window: accepts the start-up notice and waits for the window.
start_ready_window() {
  accept_notice || return 1
  drv wait-window 30 >/dev/null || {
    fail "the main window did not appear"
    return 1
  }
}

# count_log REGEX: lines of the simulator's log that match (0 when there is no log).
count_log() {
  if [ -f "$SCN_DIR/sim.log" ]; then grep -c "$1" "$SCN_DIR/sim.log"; else echo 0; fi
}

