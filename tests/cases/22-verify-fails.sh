# A read-back that differs, three times over, through the kernel: the failure report (exit 4 from
# quorel-flash), and the final command never reaches the drive.
case_on wine flash
use_package auto1 AUTOMODE=1 REBOOT=0
sim_drive 1 0:0:0 'readback_fault=5 3 100'
drives_ready || return 0
case $FRONT in
  wine)
    start_quorel
    accept_notice
    expect_report Error stop "$FAILURE" 240
    expect_exit 30
    ;;
  flash)
    run_flash --yes --drive "$(kernel_node 0)" "$E2E_WORK/pkg/auto1.exe"
    expect_eq "$FLASH_STATUS" 4 "exit code"
    expect_said "Error: $FAILURE"
    ;;
esac
expect_eq "$(program_count 1 '^3C0101014000004000')" 3 "read-backs of block 5"
expect_eq "$(program_count 1 '^3B0501000000000000')" 0 "final commands"
expect_eq "$(count_log '^PROGRAM ')" 0 "drives programmed"
