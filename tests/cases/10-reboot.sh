# REBOOT 1 (as shipped): after the success message the restart is requested. Wine answers a
# forced restart by ending every process of the prefix; the relay trace, limited to
# ExitWindowsEx by the base prefix, shows the request and its flags. The drive keeps its new
# revision for the next run, as after a real restart.
case_on aspi
use_package shipped
sim_drive 1 1:0:0 revision=KM01
start_quorel -all,+relay
start_ready_window || return 0
click Update
expect_report Information information "$SUCCESS" 120
wait_quorel 30 || fail "the program did not end after the restart request"
expect_eq "$(grep -c 'Call user32.ExitWindowsEx(00000006,00000000)' "$SCN_DIR/quorel.out")" 1 "restart requests (EWX_REBOOT | EWX_FORCE)"

start_quorel
start_ready_window || return 0
expect_text lblOldFW KM0P
close_window
