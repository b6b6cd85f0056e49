# quorel-flash and a read-back that differs three times: no final command, the failure line,
# exit 4.
use_package auto1 AUTOMODE=1 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
readback_fault = 5 3 100
INI
kernel_drives || return 0
run_flash --yes --drive "$(kernel_node 0)" "$E2E_WORK/pkg/auto1.exe"
expect_eq "$FLASH_STATUS" 4 "exit code"
expect_said "Error: $FAILURE"
expect_eq "$(program_count 1 '^3C0101014000004000')" 3 "read-backs of block 5"
expect_eq "$(program_count 1 '^3B0501000000000000')" 0 "final commands"
expect_eq "$(count_log '^PROGRAM ')" 0 "drives programmed"
