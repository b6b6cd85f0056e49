# A bank that reaches past the image area: refused at start-up, before any drive is touched.
make_package shipped
cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/invalid.exe"
patch_block "$SCN_DIR/invalid.exe" BIN_START1=0000000000 BIN_START1=0000524288 || fail "cannot patch the package"
install_flasher "$SCN_DIR/invalid.exe"
sim_scenario <<'INI'
[drive1]
address = 1:0:0
INI
start_quorel
out=$(drv wait-dialog 60) || fail "no dialog"
expect_eq "$(sed -n 's/^DIALOG //p' <<<"$out")" "caption=Error icon=stop" "dialog"
text=$(sed -n 's/^TEXT //p' <<<"$out")
[[ $text == 'The firmware package carried in this program cannot be used.\n\n'?* ]] ||
  fail "dialog text: [$text]"
answer ok
expect_exit 30
expect_eq "$(count_log '^EXEC\|^DEVICE')" 0 "drive requests"
