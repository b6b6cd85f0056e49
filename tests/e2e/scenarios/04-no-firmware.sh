# HOW_MANY_BIN 0: refused before any drive is touched.
make_package shipped
cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/nofw.exe"
patch_block "$SCN_DIR/nofw.exe" HOW_MANY_BIN=1 HOW_MANY_BIN=0 || fail "cannot patch the package"
install_flasher "$SCN_DIR/nofw.exe"
sim_scenario <<'INI'
[drive1]
address = 1:0:0
INI
start_quorel
expect_dialog Error stop 'No F/W in executable !'
answer ok
expect_exit 30
expect_eq "$(count_log '^EXEC\|^DEVICE')" 0 "drive requests"
