# The 9x family: the ASPI manager is the only transport, even where the system has more optical
# drive letters than the manager has drives (the NT family then falls back to the letters).
case_on aspi
use_package reboot0 REBOOT=0
mkdir -p "$SCN_DIR/cd-d" "$SCN_DIR/cd-e"
ln -sfn "$SCN_DIR/cd-d" "$WINEPREFIX/dosdevices/d:"
ln -sfn "$SCN_DIR/cd-e" "$WINEPREFIX/dosdevices/e:"
wine_reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f
wine_reg add 'HKLM\Software\Wine\Drives' /v e: /d cdrom /f
set_windows_version win98
sim_drive 1 1:0:0 revision=KM01
start_quorel
start_ready_window || return 0
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM01)" "drive list"
click Update
expect_report Information information "$SUCCESS" 120
expect_text lblOldFW KM0P
close_window
check_download 1 A0 1240

# The same machine reported as the NT family: the letters win, the ASPI drive is not listed (the
# two letters' lines carry no identity, since Wine's pass-through does not reach these folders).
set_windows_version winxp
start_quorel
out=$(drv wait-dialog 60) || fail "NT family: no dialog"
expect_eq "$(sed -n 's/^DIALOG //p' <<<"$out")" "caption=Error icon=stop" "NT family: dialog"
text=$(sed -n 's/^TEXT //p' <<<"$out")
lines='^ ?[0-9]+-[0-9]+-[0-9]+-[0-9]+ D: +\\n ?[0-9]+-[0-9]+-[0-9]+-[0-9]+ E: +\\n$'
[[ $text == "$NO_MATCH"* && ${text#"$NO_MATCH"} =~ $lines ]] ||
  fail "NT family: want the no-match message listing D: and E: only, got [$text]"
answer ok
expect_exit 30
