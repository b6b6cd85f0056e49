# A packed flasher with one byte of its part blocks changed after packing: the seal does not
# cover them, but start-up checks them against the build's record and refuses, before any drive
# is touched.
case_on aspi
make_package shipped || return 0
cp "$E2E_WORK/pkg/shipped.exe" "$SCN_DIR/damaged.exe"
perl -e '
  my ($file) = @ARGV;
  my $marker = "QUOREL PLACEHOLDER PART BLOCKS: NOT THE DRIVE MAKER";
  open(my $f, "+<:raw", $file) or die "$file: $!\n";
  local $/; my $data = <$f>;
  my $at = index($data, $marker);
  die "$file: no placeholder part blocks\n" if $at < 0;
  seek($f, $at + 9000, 0) or die; print $f chr(ord(substr($data, $at + 9000, 1)) ^ 1);
  close $f or die;' "$SCN_DIR/damaged.exe" || {
  fail "cannot change the part blocks"
  return 0
}
expect_eq "$(seal_line "$SCN_DIR/damaged.exe")" "sealed, digest verified" "seal after the change"
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
