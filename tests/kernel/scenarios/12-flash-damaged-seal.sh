# quorel-flash and a sealed flasher with one image byte changed: refused before any drive is
# touched, exit 2. Its --dump prints what quorel-pack --dump prints.
make_package shipped || return 0
cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/damaged.exe"
flip_block_byte "$SCN_DIR/damaged.exe" $((2123 + 700000)) || {
  fail "cannot change the image"
  return 0
}
expect_eq "$(seal_line "$SCN_DIR/damaged.exe")" "sealed, DIGEST MISMATCH" "seal after the change"
diff <("$KERNEL_BIN/quorel-flash" --dump "$SCN_DIR/damaged.exe" 2>&1) \
  <("$E2E_PACK" --dump "$SCN_DIR/damaged.exe" 2>&1) >"$SCN_DIR/dump.diff" ||
  fail "quorel-flash --dump differs from quorel-pack --dump (dump.diff)"
sim_scenario <<'INI'
[drive1]
address = 0:0:0
INI
kernel_drives || return 0
run_flash --yes "$SCN_DIR/damaged.exe"
expect_eq "$FLASH_STATUS" 2 "exit code"
expect_said "Error: $DAMAGED_PACKAGE"
expect_eq "$(awk '/^MARK /{ m = 1 } m && /^EXEC /' "$SCN_DIR/sim.log" | wc -l)" 0 \
  "commands the drive received after quorel-flash started"
