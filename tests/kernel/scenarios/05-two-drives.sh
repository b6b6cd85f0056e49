# Two drives, two LUNs of the kernel's target, D: and E:: both updated side by side, one report.
use_package auto2 AUTOMODE=1 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
latency_ms = 5
[drive2]
address = 0:1:0
revision = KM05
latency_ms = 5
INI
kernel_drives || return 0
start_quorel
expect_dialog Warning exclamation "$NOTICE"
answer yes
expect_dialog Information information "$SUCCESS" 300
answer ok
drv no-dialog 2 >/dev/null || fail "a second report"
click Close
expect_exit 30
check_download 1 A0 1240
check_download 2 A0 1240
expect_eq "$(count_log '^PROGRAM drive=1 .* revision=KM0P')" 1 "drive 1 programmed"
expect_eq "$(count_log '^PROGRAM drive=2 .* revision=KM0P')" 1 "drive 2 programmed"
check_overlap 1 2
