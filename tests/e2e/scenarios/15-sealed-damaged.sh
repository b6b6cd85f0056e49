# A sealed flasher with one image byte changed after packing: refused at start-up, before any
# drive is touched.
make_package shipped || return 0
cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/damaged.exe"
expect_eq "$(seal_line "$SCN_DIR/damaged.exe")" "sealed, digest verified" "seal as packed"
flip_block_byte "$SCN_DIR/damaged.exe" $((2123 + 700000)) || {
  fail "cannot change the image"
  return 0
}
expect_eq "$(seal_line "$SCN_DIR/damaged.exe")" "sealed, DIGEST MISMATCH" "seal after the change"
install_flasher "$SCN_DIR/damaged.exe"
sim_scenario <<'INI'
[drive1]
address = 1:0:0
INI
start_quorel
expect_dialog Error stop "$DAMAGED_PACKAGE"
answer ok
expect_exit 30
expect_untouched
