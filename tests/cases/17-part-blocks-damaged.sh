# A packed flasher with one byte of its part blocks changed after packing: the seal does not
# cover them, but start-up checks them against the build's record and refuses, before any drive
# is touched.
case_on aspi
make_package shipped || return 0
cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/damaged.exe"
at=$(grep -obUa 'QUOREL PLACEHOLDER PART BLOCKS: NOT THE DRIVE MAKER' "$SCN_DIR/damaged.exe" | head -1)
[ -n "$at" ] && flip_byte "$SCN_DIR/damaged.exe" $((${at%%:*} + 9000)) || {
  fail "cannot change the part blocks"
  return 0
}
expect_eq "$(seal_line "$SCN_DIR/damaged.exe")" "sealed, digest verified" "seal after the change"
install_flasher "$SCN_DIR/damaged.exe"
sim_drive 1 1:0:0
start_quorel
expect_report Error stop "$DAMAGED_PACKAGE"
expect_exit 30
expect_untouched
