# quorel-flash and a drive of another make: the no-match message lists it, nothing is written,
# exit 3.
use_package shipped
sim_scenario <<'INI'
[drive1]
address = 0:1:0
vendor = "ACMEDISK"
product = "CD-RW 52X"
revision = 1.00
INI
kernel_drives || return 0
run_flash --yes --drive "$(kernel_node 0)" "$E2E_WORK/pkg/shipped.exe"
expect_eq "$FLASH_STATUS" 3 "exit code"
expect_said "Error: $NO_MATCH"
grep -qx ' *[0-9-]* D:ACMEDISKCD-RW 52X        1.00' "$SCN_DIR/flash.out" ||
  fail "the drive is not listed in the no-match message"
expect_eq "$(program_count 1 '^12')" 1 "INQUIRY during discovery"
expect_nothing_written
