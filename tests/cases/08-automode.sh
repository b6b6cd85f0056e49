# AUTOMODE with three drives of which two may be updated: two downloads side by side, one
# report; the window then stays open, and the other make's line is refused.
case_on aspi
use_package auto AUTOMODE=1 REBOOT=0 CLOSEAP=0
sim_drive 1 0:0:0 revision=KM01 latency_ms=10
sim_drive 2 0:1:0 "${OTHER_MAKE[@]}"
sim_drive 3 1:0:0 revision=KM05 latency_ms=10
start_quorel
accept_notice
expect_report Information information "$SUCCESS" 120
drv no-dialog 2 >/dev/null || fail "a second report"
drv wait-window 30 >/dev/null || fail "the window did not stay open"
expect_eq "$(count_log '^PROGRAM ')" 2 "drives programmed"
expect_eq "$(count_log '^PROGRAM drive=2 ')" 0 "the other make programmed"
expect_eq "$(writes_to 2)" 0 "WRITE BUFFER commands to the other make"
check_download 1 A0 1240
check_download 3 A0 1240
check_overlap 1 3
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items" | tr '\n' '|')" \
  "0 $(drive_line 0 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)|1 $(drive_line 0 0 1 0 '' 'ACMEDISKCD-RW 52X       ' 1.00)|2 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)|" \
  "drive list after the update"
drv select 1 >/dev/null || fail "cannot select the other make"
expect_controls "the other make" "lblUpdateMsg:text=$NOT_ALLOWED" "lblUpdateMsg:ink=$MAROON" \
  cmdUpdate:enabled=0 lblOldFW:visible=0 lblNewFW:visible=0
# Back on an updatable line, Update is offered again for the whole automatic run.
drv select 2 >/dev/null || fail "cannot select the third drive"
expect_controls "the third drive" "lblUpdateMsg:text=$WILL_BE_UPDATED" "lblUpdateMsg:ink=$BLACK" \
  cmdUpdate:enabled=1 lblOldFW:text=KM0P
# A second press covers every updatable drive again, whichever line is selected.
drv select 0 >/dev/null || fail "cannot select the first drive"
click Update
expect_report Information information "$SUCCESS" 120
expect_eq "$(count_log '^PROGRAM drive=[13] ')" 4 "drives programmed after the second press"
close_window
