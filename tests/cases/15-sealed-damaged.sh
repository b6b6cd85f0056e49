# A sealed flasher with one image byte changed after packing: refused at start-up, before any
# drive is touched (quorel-flash: exit 2, and its --dump prints what quorel-pack --dump prints).
case_on aspi flash
make_package shipped || return 0
cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/damaged.exe"
expect_eq "$(seal_line "$SCN_DIR/damaged.exe")" "sealed, digest verified" "seal as packed"
flip_block_byte "$SCN_DIR/damaged.exe" $((2123 + 700000)) || {
  fail "cannot change the image"
  return 0
}
expect_eq "$(seal_line "$SCN_DIR/damaged.exe")" "sealed, DIGEST MISMATCH" "seal after the change"
sim_drive 1 1:0:0
drives_ready || return 0
case $FRONT in
  aspi)
    install_flasher "$SCN_DIR/damaged.exe"
    start_quorel
    expect_report Error stop "$DAMAGED_PACKAGE"
    expect_exit 30
    expect_untouched
    ;;
  flash)
    diff <("$KERNEL_BIN/quorel-flash" --dump "$SCN_DIR/damaged.exe" 2>&1) \
      <("$E2E_PACK" --dump "$SCN_DIR/damaged.exe" 2>&1) >"$SCN_DIR/dump.diff" ||
      fail "quorel-flash --dump differs from quorel-pack --dump (dump.diff)"
    run_flash --yes "$SCN_DIR/damaged.exe"
    expect_eq "$FLASH_STATUS" 2 "exit code"
    expect_said "Error: $DAMAGED_PACKAGE"
    expect_eq "$(awk '/^MARK /{ m = 1 } m && /^EXEC /' "$SCN_DIR/sim.log" | wc -l)" 0 \
      "commands the drive received after quorel-flash started"
    ;;
esac
