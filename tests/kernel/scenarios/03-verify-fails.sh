# A read-back that differs, three times over: the failure report, and the final command never
# reaches the drive.
use_package auto1 AUTOMODE=1 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
readback_fault = 5 3 100
INI
kernel_drives || return 0
start_quorel
expect_dialog Warning exclamation "$NOTICE"
answer yes
expect_dialog Error stop "$FAILURE" 240
answer ok
expect_exit 30
expect_eq "$(program_count 1 '^3C0101014000004000')" 3 "read-backs of block 5"
expect_eq "$(program_count 1 '^3B0501000000000000')" 0 "final commands"
expect_eq "$(count_log '^PROGRAM ')" 0 "drives programmed"
