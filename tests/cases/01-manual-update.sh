# Shipped package with REBOOT 0, one drive, manual update: the window before and after, the
# success message, the exact command stream and the bytes written.
case_on aspi
use_package reboot0 REBOOT=0
sim_drive 1 1:0:0 revision=KM01 latency_ms=60
start_quorel
start_ready_window || return 0

expect_eq "$(drv caption | sed -n 's/^CAPTION //p')" "Flash Program for TARN-EX DVDRW QVX-270T" caption
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM01)" "drive list"
expect_eq "$(sed -n 's/^SELECTED //p' <<<"$items")" 0 "selected line"
expect_controls ready 'Label1:text=Please select target drive :' "lblUpdateMsg:text=$WILL_BE_UPDATED" \
  lblOldFW:text=KM01 lblNewFW:text=KM0P lblMsg:text= 'lblPercent:text=0 %' cmdUpdate:enabled=1 \
  "lblOldFW:ink=$NAVY" "lblUpdateMsg:ink=$BLACK"

click Update
drv wait-text lblMsg Programming 30 >/dev/null || fail "no progress shown"
expect_controls running cmdUpdate:enabled=0 cmdClose:enabled=0 "lblMsg:ink=$MAROON" pbar:range=0..330

expect_dialog Information information "$SUCCESS" 120
expect_controls "during the report" lblMsg:text=Done. "lblMsg:ink=$NAVY" 'lblPercent:text=100 %' \
  pbar:position=330
answer ok

items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)" "drive list after the update"
expect_controls "after the update" lblOldFW:text=KM0P lblNewFW:text=KM0P lblMsg:text= \
  'lblPercent:text=0 %' pbar:position=0 cmdUpdate:enabled=1 cmdClose:enabled=1

check_download 1 A0 1240
expect_eq "$(exec_lines 1 | grep ' cdb=3B05010000000004D87F0000 ' | field head | cut -c1-12)" \
  BFD8000504D2 "part block header for flash part BF D8 00 05"
expect_eq "$(count_log '^PROGRAM drive=1 .* control=A0 .* revision=KM0P')" 1 "one programming"

# Only the Close button ends the program: not the title bar's close, not Alt+F4.
drv close-window >/dev/null || fail "the window closed without the Close button"
close_window
