# quorel-flash as an ordinary user (in the group cdrom): the kernel refuses the vendor command and
# WRITE BUFFER without CAP_SYS_RAWIO; nothing reaches the drive's buffer, and the failure line
# says why, exit 4.
use_package auto1 AUTOMODE=1 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
INI
kernel_as_user
kernel_drives || return 0
cp "$E2E_WORK/pkg/auto1.exe" /tmp/auto1.exe && chmod 644 /tmp/auto1.exe
run_flash --yes --drive "$(kernel_node 0)" /tmp/auto1.exe
expect_eq "$FLASH_STATUS" 4 "exit code"
expect_said "Error: $FAILURE$ACCESS_DENIED_AS_ROOT"
[ "$(program_count 1 '^12')" -ge 1 ] || fail "no INQUIRY reached the drive"
expect_eq "$(program_count 1 '^DF')" 0 "vendor commands that reached the drive"
expect_nothing_written
