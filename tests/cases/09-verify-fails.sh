# Two drives, one failing its read-back three times: one error message, the program ends, and the
# failing drive never receives the final command.
case_on aspi
use_package auto2 AUTOMODE=1 REBOOT=0
sim_drive 1 0:0:0
sim_drive 2 0:1:0 'readback_fault=5 3 100'
start_quorel
accept_notice
expect_report Error stop "$FAILURE" 120
expect_exit 30
expect_eq "$(exec_lines 2 | field cdb | grep -c '^3B0501000000000000\(80\|A0\)')" 0 "final commands to the failing drive"
expect_eq "$(exec_lines 2 | field cdb | grep -c '^3B0501000000004000')" 3 "attempts at block 0 of the failing drive"
expect_eq "$(count_log '^PROGRAM drive=2 ')" 0 "the failing drive programmed"
expect_eq "$(count_log '^PROGRAM drive=1 ')" 1 "the good drive programmed"
