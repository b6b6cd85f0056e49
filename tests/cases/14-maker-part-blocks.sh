# quorel.exe built with a stand-in for the drive maker's part blocks: 17,850 random bytes
# (scripts/test makes them; the win32 build makes quorel-standin.exe with them). quorel-pack
# refuses it, as it refuses the placeholder build, without --demo, and --dump names the kind.
# Like the placeholder build it writes only the simulated test drive; the update then sends that
# drive exactly entry 19's part block (flash part BF D8 00 05): its 6-byte table entry, then the
# 1,234 bytes at offset 14,416 of the file.
case_on aspi
standin=$E2E_WIN32/src/app/win32/quorel-standin.exe
blocks=$(sed -n 's/^QUOREL_STANDIN_TEST_BLOCKS:FILEPATH=//p' "$E2E_WIN32/CMakeCache.txt")
if [ ! -f "$standin" ] || [ ! -f "$blocks" ]; then
  fail "no stand-in build: configure the win32 build with QUOREL_STANDIN_TEST_BLOCKS, as scripts/test does"
  return 0
fi

if E2E_DEMO='' make_package refused REBOOT=0 2>/dev/null; then
  fail "quorel-pack packed the placeholder build without --demo"
fi
if E2E_TEMPLATE=$standin E2E_DEMO='' make_package refused-standin REBOOT=0 2>/dev/null; then
  fail "quorel-pack packed the stand-in build without --demo"
fi
E2E_TEMPLATE=$standin use_package standin REBOOT=0 ||
  { fail "quorel-pack refused the stand-in build with --demo"; return 0; }
expect_eq "$("$E2E_PACK" --dump "$E2E_WORK/pkg/standin.exe" | grep '^; part blocks')" \
  "; part blocks: stand-in, not the drive maker's data (updates only the simulated test drive)" \
  "the dump's part blocks"

sim_drive 1 1:0:0 revision=KM01 'vendor_specific="QUOREL SIM DRIVE"'
start_quorel
start_ready_window || return 0
click Update
expect_report Information information "$SUCCESS" 120
check_download 1 A0 1240
{
  printf '\xBF\xD8\x00\x05\x04\xD2'
  dd if="$blocks" bs=1 skip=14416 count=1234 2>/dev/null
} >"$SCN_DIR/entry19.bin"
expect_eq "$(exec_lines 1 | grep ' cdb=3B05010000000004D87F0000 ' | field hash | tr a-f A-F)" \
  "$(drv fnv1a "Z:$SCN_DIR/entry19.bin" | tr a-f A-F)" "the part block the drive received"
close_window
