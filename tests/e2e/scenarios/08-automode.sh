# AUTOMODE with three drives of which two may be updated: two downloads side by side, one
# report; the window then stays open, and the other make's line is refused.
make_package auto AUTOMODE=1 REBOOT=0 CLOSEAP=0
install_flasher "$E2E_WORK/pkg/auto.exe"
sim_scenario <<'INI'
[drive1]
address = 0:0:0
revision = KM01
latency_ms = 10
[drive2]
address = 0:1:0
vendor = "ACMEDISK"
product = "CD-RW 52X"
revision = 1.00
[drive3]
address = 1:0:0
revision = KM05
latency_ms = 10
INI
start_quorel
expect_dialog Warning exclamation "$NOTICE"
answer yes
expect_dialog Information information "$SUCCESS" 120
answer ok
drv no-dialog 2 >/dev/null || fail "a second report"
drv wait-window 30 >/dev/null || fail "the window did not stay open"
expect_eq "$(count_log '^PROGRAM ')" 2 "drives programmed"
expect_eq "$(count_log '^PROGRAM drive=2 ')" 0 "the other make programmed"
expect_eq "$(writes_to 2)" 0 "WRITE BUFFER commands to the other make"
check_download 1 A0 1240
check_download 3 A0 1240
# Side by side: each drive received its first block before the other received its last.
first() { exec_lines "$1" | grep ' cdb=3B0501000000004000' | head -1 | field t; }
last() { exec_lines "$1" | grep ' cdb=3B0501[0-9A-F]*004000' | tail -1 | field t; }
[ "$(first 1)" -lt "$(last 3)" ] && [ "$(first 3)" -lt "$(last 1)" ] ||
  fail "the two downloads did not overlap"
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items" | tr '\n' '|')" \
  "0 $(drive_line 0 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)|1 $(drive_line 0 0 1 0 '' 'ACMEDISKCD-RW 52X       ' 1.00)|2 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)|" \
  "drive list after the update"
drv select 1 >/dev/null || fail "cannot select the other make"
controls=$(drv controls)
expect_eq "$(sed -n 's/^CONTROL name=lblUpdateMsg .* text=//p' <<<"$controls")" "$NOT_ALLOWED" "refusal line"
expect_eq "$(sed -n 's/^CONTROL name=lblUpdateMsg .* ink=\([0-9A-F]*\).*/\1/p' <<<"$controls")" "$MAROON" "colour of the refusal"
expect_eq "$(sed -n 's/^CONTROL name=cmdUpdate .* enabled=\([01]\).*/\1/p' <<<"$controls")" 0 "Update for the other make"
expect_eq "$(sed -n 's/^CONTROL name=lblOldFW .* visible=\([01]\).*/\1/p' <<<"$controls")" 0 "old revision shown"
drv click Close >/dev/null || fail "cannot click Close"
expect_exit 30
