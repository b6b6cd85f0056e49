# AUTOMODE with three drives of which two may be updated: two downloads side by side, one
# report; the window then stays open, and the other make's line is refused.
case_on aspi
use_package auto AUTOMODE=1 REBOOT=0 CLOSEAP=0
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
first_block() { exec_lines "$1" | grep ' cdb=3B0501000000004000' | head -1 | field t; }
last_block() { exec_lines "$1" | grep ' cdb=3B0501[0-9A-F]*004000' | tail -1 | field t; }
[ "$(first_block 1)" -lt "$(last_block 3)" ] && [ "$(first_block 3)" -lt "$(last_block 1)" ] ||
  fail "the two downloads did not overlap"
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items" | tr '\n' '|')" \
  "0 $(drive_line 0 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)|1 $(drive_line 0 0 1 0 '' 'ACMEDISKCD-RW 52X       ' 1.00)|2 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)|" \
  "drive list after the update"
drv select 1 >/dev/null || fail "cannot select the other make"
controls=$(drv controls)
expect_eq "$(control_field lblUpdateMsg text "$controls")" "$NOT_ALLOWED" "refusal line"
expect_eq "$(control_field lblUpdateMsg ink "$controls")" "$MAROON" "colour of the refusal"
expect_eq "$(control_field cmdUpdate enabled "$controls")" 0 "Update for the other make"
expect_eq "$(control_field lblOldFW visible "$controls")" 0 "old revision shown"
expect_eq "$(control_field lblNewFW visible "$controls")" 0 "new revision shown"
# Back on an updatable line, Update is offered again for the whole automatic run.
drv select 2 >/dev/null || fail "cannot select the third drive"
controls=$(drv controls)
expect_eq "$(control_field lblUpdateMsg text "$controls")" "$WILL_BE_UPDATED" "update line"
expect_eq "$(control_field lblUpdateMsg ink "$controls")" "$BLACK" "colour of the update line"
expect_eq "$(control_field cmdUpdate enabled "$controls")" 1 "Update for the third drive"
expect_eq "$(control_field lblOldFW text "$controls")" KM0P "old revision of the third drive"
# A second press covers every updatable drive again, whichever line is selected.
drv select 0 >/dev/null || fail "cannot select the first drive"
click Update
expect_dialog Information information "$SUCCESS" 120
answer ok
expect_eq "$(count_log '^PROGRAM drive=[13] ')" 4 "drives programmed after the second press"
click Close
expect_exit 30
