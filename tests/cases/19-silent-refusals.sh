# /S runs that update nothing, each with its own exit code (modulo 256 here; the log's last line
# has it whole), no window or dialog, and its reason in the log: a drive whose read-back differs
# (1603, never the program command), no drive that may be updated (1642), a drive the rules call
# up to date (0, left alone; /force updates it), a disc in the drive with the disc check on (1603,
# neither ejected nor waited for), a damaged seal (1620, no drive touched), a switch not
# understood (1639).
case_on aspi
LOG_FILE=$WINEPREFIX/drive_c/quorel/run.log
# silent_run STATUS SWITCHES...: one silent run with the log, on a fresh simulated machine log.
silent_run() {
  rm -f "$SCN_DIR"/sim.log* "$LOG_FILE"
  start_quorel -all /S "${@:2}" '/log=C:\quorel\run.log'
  expect_unseen 120
  expect_eq "$QUOREL_STATUS" $(($1 % 256)) "$2: exit status ($1 modulo 256)"
}
logged() { [ -f "$LOG_FILE" ] && cut -c21- "$LOG_FILE" | tr -d '\r' | grep -cE "$1"; }

use_package shipped
sim_drive 1 0:0:0 'readback_fault=5 3 100'
silent_run 1603 /quiet
expect_eq "$(exec_lines 1 | field cdb | grep -c '^3B0501000000000000')" 0 "program commands"
expect_eq "$(logged '^drive 0-0-0-0: update FAILED$')" 1 "failure line"
expect_eq "$(logged '^drive 0-0-0-0: read-back differs: R = [0-9a-f]{2} , W = [0-9a-f]{2} , Pos = 100\(64\)$')" 1 \
  "difference line"
expect_eq "$(logged '^exit code 1603$')" 1 "exit code line"

sim_drive 1 0:1:0 "${OTHER_MAKE[@]}"
silent_run 1642 -s
expect_eq "$(logged '^drive 0-0-1-0: "ACMEDISKCD-RW 52X" revision 1.00: not allowed by the package.s rules$')" 1 \
  "decision line"
expect_eq "$(logged '^no drive may be updated$')" 1 "no-drive line"
expect_nothing_written

use_package current N2OMESSAGE=1 REBOOT=0
sim_drive 1 0:0:0 revision=KM0P
silent_run 0 /S
expect_nothing_written
expect_eq "$(logged '^drive 0-0-0-0: up to date, left alone \(no force\)$')" 1 "left-alone line"
silent_run 0 /S /force
expect_eq "$(count_log '^PROGRAM drive=1 ')" 1 "drive programmed with /force"

use_package disc CHKDISC=1 REBOOT=0
sim_drive 1 0:0:0 disc=1
silent_run 1603 /S
expect_nothing_written
expect_eq "$(exec_lines 1 | field cdb | grep -c '^1B')" 0 "START STOP UNIT commands"
expect_eq "$(logged '^drive 0-0-0-0: not updated: a disc is in the drive or its tray is open$')" 1 \
  "disc line"

cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/damaged.exe"
flip_block_byte "$SCN_DIR/damaged.exe" $((2123 + 700000)) || fail "cannot change the image"
install_flasher "$SCN_DIR/damaged.exe"
silent_run 1620 /S
expect_untouched
expect_eq "$(logged 'sealed, DIGEST MISMATCH')" 1 "seal in the package line"

silent_run 1639 /bogus
expect_untouched
