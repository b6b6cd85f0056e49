# Shipped package with REBOOT 0, one drive, manual update: the window before and after, the
# success message, the exact command stream and the bytes written.
make_package reboot0 REBOOT=0
install_flasher "$E2E_WORK/pkg/reboot0.exe"
sim_scenario <<'INI'
[drive1]
address = 1:0:0
revision = KM01
latency_ms = 15
INI
start_quorel
start_ready_window || return 0

expect_eq "$(drv caption | sed -n 's/^CAPTION //p')" "Flash Program for TARN-EX DVDRW QVX-270T" caption
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM01)" "drive list"
expect_eq "$(sed -n 's/^SELECTED //p' <<<"$items")" 0 "selected line"
expect_text Label1 "Please select target drive :"
expect_text lblUpdateMsg "$WILL_BE_UPDATED"
expect_text lblOldFW KM01
expect_text lblNewFW KM0P
expect_text lblMsg ""
expect_text lblPercent "0 %"
controls=$(drv controls)
expect_eq "$(sed -n 's/^CONTROL name=cmdUpdate .* enabled=\([01]\).*/\1/p' <<<"$controls")" 1 "Update enabled"
expect_eq "$(sed -n 's/^CONTROL name=lblOldFW .* ink=\([0-9A-F]*\).*/\1/p' <<<"$controls")" "$NAVY" "colour of the old revision"
expect_eq "$(sed -n 's/^CONTROL name=lblUpdateMsg .* ink=\([0-9A-F]*\).*/\1/p' <<<"$controls")" "$BLACK" "colour of the update line"

drv click Update >/dev/null || fail "cannot click Update"
drv wait-text lblMsg Programming 30 >/dev/null || fail "no progress shown"
controls=$(drv controls)
expect_eq "$(sed -n 's/^CONTROL name=cmdUpdate .* enabled=\([01]\).*/\1/p' <<<"$controls")" 0 "Update disabled while running"
expect_eq "$(sed -n 's/^CONTROL name=cmdClose .* enabled=\([01]\).*/\1/p' <<<"$controls")" 0 "Close disabled while running"
expect_eq "$(sed -n 's/^CONTROL name=lblMsg .* ink=\([0-9A-F]*\).*/\1/p' <<<"$controls")" "$MAROON" "colour of the progress message"
expect_eq "$(sed -n 's/^CONTROL name=pbar .* range=\([0-9.]*\).*/\1/p' <<<"$controls")" "0..330" "progress range"

expect_dialog Information information "$SUCCESS" 120
expect_text lblMsg "Done."
answer ok

items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM0P)" "drive list after the update"
expect_text lblOldFW KM0P
expect_text lblNewFW KM0P
expect_text lblMsg ""
expect_text lblPercent "0 %"
expect_eq "$(control_field cmdUpdate enabled)" 1 "Update enabled again"
expect_eq "$(control_field pbar position)" 0 "progress bar emptied"

check_download 1 A0 1240
expect_eq "$(exec_lines 1 | grep ' cdb=3B05010000000004D87F0000 ' | field head | cut -c1-12)" \
  BFD8000504D2 "part block header for flash part BF D8 00 05"
expect_eq "$(count_log '^PROGRAM drive=1 .* control=A0 .* revision=KM0P')" 1 "one programming"

# Only the Close button ends the program: not the title bar's close, not Alt+F4.
drv close-window , sleep 1000 , wait-window 1 >/dev/null || fail "the window closed without the Close button"
drv click Close >/dev/null || fail "cannot click Close"
expect_exit 30
