# The read-only check (quorel.exe /check, quorel-flash --check): exit 100 while a drive would be
# updated, nothing shown, no command beyond discovery's, each drive's verdict in the log; after
# the update, exit 0. quorel-flash --yes then leaves the up-to-date drive alone (exit 0, nothing
# written), as /S does.
case_on aspi flash
use_package check1 REBOOT=0 N2OMESSAGE=1
sim_drive 1 0:0:0 revision=KM01
drives_ready || return 0
log=$SCN_DIR/check.log
[ "$FRONT" = aspi ] && log=$WINEPREFIX/drive_c/quorel/check.log
# check_once EXIT: one check, its exit code, and no command since the last that writes, reads
# the buffer or stops the disc (the kernel's own commands at an open and a close do neither).
check_once() {
  local before
  before=$(exec_lines 1 | wc -l)
  case $FRONT in
    aspi)
      start_quorel -all /check '/log=C:\quorel\check.log'
      expect_unseen 120
      expect_eq "$QUOREL_STATUS" "$1" "exit status of /check"
      ;;
    flash)
      run_flash --check --log "$log" "$E2E_WORK/pkg/check1.exe"
      expect_eq "$FLASH_STATUS" "$1" "exit code of --check"
      ;;
  esac
  expect_eq "$(exec_lines 1 | tail -n +$((before + 1)) | field cdb | grep -c '^\(3B\|3C\|1B\)')" 0 \
    "commands of the check that write, read the buffer or stop the disc"
}
check_once 100
grep -q '"TARN-EX DVDRW QVX-270T" revision KM01: may be updated to KM0P' "$log" ||
  fail "the log does not give the drive's verdict"
grep -q 'check: an update applies' "$log" || fail "the log does not give the check's outcome"
[ "$FRONT" = aspi ] || grep -q ': would be updated to KM0P$' "$SCN_DIR/flash.out" ||
  fail "quorel-flash does not give the drive's verdict"

case $FRONT in
  aspi)
    start_quorel -all /S
    expect_unseen 120
    ;;
  flash) run_flash --yes "$E2E_WORK/pkg/check1.exe" ;;
esac
expect_eq "$(count_log '^PROGRAM drive=1 .* revision=KM0P')" 1 "drive programmed"
check_once 0
grep -q 'check: nothing to do' "$log" || fail "the log does not say there is nothing to do"
if [ "$FRONT" = flash ]; then
  run_flash --yes "$E2E_WORK/pkg/check1.exe"
  expect_eq "$FLASH_STATUS" 0 "exit code of --yes on an up-to-date drive"
  expect_said "It already has KM0P: left alone (--force updates it)."
fi
expect_eq "$(count_log '^PROGRAM drive=1 ')" 1 "programmings in all"
