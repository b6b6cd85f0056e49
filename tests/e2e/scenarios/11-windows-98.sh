# The 9x family: the ASPI manager is the only transport, even where the system has more optical
# drive letters than the manager has drives (the NT family then falls back to the letters).
make_package reboot0 REBOOT=0
install_flasher "$E2E_WORK/pkg/reboot0.exe"
mkdir -p "$SCN_DIR/cd-d" "$SCN_DIR/cd-e"
ln -sfn "$SCN_DIR/cd-d" "$WINEPREFIX/dosdevices/d:"
ln -sfn "$SCN_DIR/cd-e" "$WINEPREFIX/dosdevices/e:"
wine reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Drives' /v e: /d cdrom /f >/dev/null 2>&1
set_windows_version win98
sim_scenario <<'INI'
[drive1]
address = 1:0:0
revision = KM01
INI
start_quorel
start_ready_window || return 0
items=$(drv combo-items)
expect_eq "$(sed -n 's/^ITEM //p' <<<"$items")" "0 $(drive_line 1 0 0 0 '' 'TARN-EX DVDRW QVX-270T  ' KM01)" "drive list"
drv click Update >/dev/null || fail "cannot click Update"
expect_dialog Information information "$SUCCESS" 120
answer ok
expect_text lblOldFW KM0P
drv click Close >/dev/null || fail "cannot click Close"
expect_exit 30
check_download 1 A0 1240

# The same machine reported as the NT family: the letters win, the ASPI drive is not listed.
set_windows_version winxp
start_quorel
out=$(drv wait-dialog 60)
grep -q 'D:' <<<"$out" || fail "NT family: no drive letter in $(sed -n 's/^TEXT //p' <<<"$out")"
drv answer ok >/dev/null 2>&1 || drv answer yes >/dev/null 2>&1
wineserver -k
