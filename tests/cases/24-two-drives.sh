# Two drives, two LUNs of the kernel's target (D: and E: under Wine, both named to quorel-flash),
# a package in automatic mode: both updated side by side, one report.
case_on wine flash
use_package auto2 AUTOMODE=1 REBOOT=0
sim_drive 1 0:0:0 latency_ms=5
sim_drive 2 0:1:0 revision=KM05 latency_ms=5
drives_ready || return 0
case $FRONT in
  wine)
    start_quorel
    accept_notice
    expect_report Information information "$SUCCESS" 300
    drv no-dialog 2 >/dev/null || fail "a second report"
    close_window
    ;;
  flash)
    run_flash --yes --drive "$(kernel_node 0)" --drive "$(kernel_node 1)" "$E2E_WORK/pkg/auto2.exe"
    expect_eq "$FLASH_STATUS" 0 "exit code"
    expect_said "Information: $SUCCESS"
    ;;
esac
check_download 1 A0 1240
check_download 2 A0 1240
expect_eq "$(count_log '^PROGRAM drive=1 .* revision=KM0P')" 1 "drive 1 programmed"
expect_eq "$(count_log '^PROGRAM drive=2 .* revision=KM0P')" 1 "drive 2 programmed"
check_overlap 1 2
