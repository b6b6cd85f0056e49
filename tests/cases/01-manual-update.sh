# Shipped package with REBOOT 0, one drive, manual update: the window before and after, the
# success message, the exact command stream and the bytes written.
case_on aspi
use_package reboot0 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 1:0:0
revision = KM01
latency_ms = 60
INI
start_quorel
start_ready_window || return 0

expect_eq "$(drv caption | sed -n 's/^CAPTION //p')" "Flash Program for TARN-EX DVDRW QVX-270T" caption
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM01)" "drive list"
expect_eq "$(sed -n 's/^SELECTED //p' <<<"$items")" 0 "selected line"
controls=$(drv controls)
expect_eq "$(control_field Label1 text "$controls")" "Please select target drive :" Label1
expect_eq "$(control_field lblUpdateMsg text "$controls")" "$WILL_BE_UPDATED" lblUpdateMsg
expect_eq "$(control_field lblOldFW text "$controls")" KM01 lblOldFW
expect_eq "$(control_field lblNewFW text "$controls")" KM0P lblNewFW
expect_eq "$(control_field lblMsg text "$controls")" "" lblMsg
expect_eq "$(control_field lblPercent text "$controls")" "0 %" lblPercent
expect_eq "$(control_field cmdUpdate enabled "$controls")" 1 "Update enabled"
expect_eq "$(control_field lblOldFW ink "$controls")" "$NAVY" "colour of the old revision"
expect_eq "$(control_field lblUpdateMsg ink "$controls")" "$BLACK" "colour of the update line"

click Update
drv wait-text lblMsg Programming 30 >/dev/null || fail "no progress shown"
controls=$(drv controls)
expect_eq "$(control_field cmdUpdate enabled "$controls")" 0 "Update enabled while running"
expect_eq "$(control_field cmdClose enabled "$controls")" 0 "Close enabled while running"
expect_eq "$(control_field lblMsg ink "$controls")" "$MAROON" "colour of the progress message"
expect_eq "$(control_field pbar range "$controls")" "0..330" "progress range"

expect_dialog Information information "$SUCCESS" 120
controls=$(drv controls)
expect_eq "$(control_field lblMsg text "$controls")" "Done." "message during the report"
expect_eq "$(control_field lblMsg ink "$controls")" "$NAVY" "colour of the message during the report"
expect_eq "$(control_field lblPercent text "$controls")" "100 %" "percent during the report"
expect_eq "$(control_field pbar position "$controls")" 330 "progress bar during the report"
answer ok

items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)" "drive list after the update"
controls=$(drv controls)
expect_eq "$(control_field lblOldFW text "$controls")" KM0P "old revision after the update"
expect_eq "$(control_field lblNewFW text "$controls")" KM0P "new revision after the update"
expect_eq "$(control_field lblMsg text "$controls")" "" "message after the update"
expect_eq "$(control_field lblPercent text "$controls")" "0 %" "percent after the update"
expect_eq "$(control_field pbar position "$controls")" 0 "progress bar after the update"
expect_eq "$(control_field cmdUpdate enabled "$controls")" 1 "Update enabled again"
expect_eq "$(control_field cmdClose enabled "$controls")" 1 "Close enabled again"

check_download 1 A0 1240
expect_eq "$(exec_lines 1 | grep ' cdb=3B05010000000004D87F0000 ' | field head | cut -c1-12)" \
  BFD8000504D2 "part block header for flash part BF D8 00 05"
expect_eq "$(count_log '^PROGRAM drive=1 .* control=A0 .* revision=KM0P')" 1 "one programming"

# Only the Close button ends the program: not the title bar's close, not Alt+F4.
drv close-window >/dev/null || fail "the window closed without the Close button"
click Close
expect_exit 30
