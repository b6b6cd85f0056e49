# quorel-flash, the drive reset right after the read-back of the image's last block and its unit
# attention taken by the kernel's media poll (every 100 ms): the download starts over from the
# part block, and the drive programs exactly the image with its part block.
use_package reboot0 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
revision = KM01
reset_fault = 3C 63 1
event_status_attention = 1
INI
KERNEL_POLL_MS=100 kernel_drives || return 0
run_flash --yes "$E2E_WORK/pkg/reboot0.exe"
expect_eq "$FLASH_STATUS" 0 "exit code"
expect_said "Information: $SUCCESS"
check_reset_recovered 1
