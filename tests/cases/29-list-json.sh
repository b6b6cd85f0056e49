# quorel-flash --list --json, as root and then as an ordinary user (in the group cdrom: INQUIRY
# goes through, the vendor command does not): one JSON document on standard output, read on the
# host with a JSON parser, giving each drive's device, address, identity and verdict, the package
# and the program; the terminal's lines on standard error; nothing that writes reaches a drive.
case_on flash
use_package list1 REBOOT=0
sim_drive 1 0:0:0 revision=KM01
sim_drive 2 0:1:0 "${OTHER_MAKE[@]}"
drives_ready || return 0
node1=$(kernel_node 0)
node2=$(kernel_node 1)
cp "$E2E_WORK/pkg/list1.exe" /tmp/list1.exe && chmod 644 /tmp/list1.exe
for who in root user; do
  [ "$who" = user ] && kernel_as_user
  FLASH_STDOUT=$SCN_DIR/list-$who.json run_flash --list --json --drive "$node1" --drive "$node2" \
    /tmp/list1.exe
  expect_eq "$FLASH_STATUS" 100 "exit code as $who"
  grep -q "^  $node1 .*: would be updated to KM0P$" "$SCN_DIR/flash.out" ||
    fail "as $who: no verdict line on standard error"
  json=list-$who.json
  expect_json "$json" .schema 1
  expect_json "$json" .program.name quorel-flash
  expect_json "$json" .package.newRevision KM0P
  expect_json "$json" '.drives | length' 2
  expect_json "$json" '.drives[0] | [.device, .vendor, .product, .revision, .verdict] | join("|")' \
    "$node1|TARN-EX|DVDRW QVX-270T|KM01|would-update"
  expect_json "$json" '.drives[0].address | test("^[0-9]+-[0-9]+-[0-9]+-[0-9]+$")' true
  expect_json "$json" '.drives[1] | [.device, .vendor, .product, .revision, .verdict] | join("|")' \
    "$node2|ACMEDISK|CD-RW 52X|1.00|other-model"
  expect_json "$json" .outcome update-applies
done
expect_eq "$(exec_lines | field cdb | grep -c '^\(3B\|3C\|1B\)')" 0 \
  "commands that write, read the buffer or stop a drive"
