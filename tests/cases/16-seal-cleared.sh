# A flasher whose seal record was cleared to "unsealed", as a packing tool that knows no seal
# leaves it: it flashes as it always did.
case_on aspi
make_package reboot0 REBOOT=0 || return 0
cp "$E2E_WORK/pkg/reboot0.exe" "$SCN_DIR/cleared.exe"
clear_seal "$SCN_DIR/cleared.exe" || {
  fail "cannot clear the seal"
  return 0
}
expect_eq "$(seal_line "$SCN_DIR/cleared.exe")" unsealed "seal after clearing"
install_flasher "$SCN_DIR/cleared.exe"
sim_drive 1 1:0:0 revision=KM01
start_quorel
start_ready_window || return 0
click Update
expect_report Information information "$SUCCESS" 120
check_download 1 A0 1240
expect_eq "$(count_log '^PROGRAM drive=1 .* revision=KM0P')" 1 "one programming"
close_window
