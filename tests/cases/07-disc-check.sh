# CHKDISC 1 with a disc in the drive: the tray comes out, the user is asked to take the disc,
# the tray goes in, the check passes and the update runs; CLOSEAP 1 then ends the program.
case_on aspi
use_package chkdisc CHKDISC=1 REBOOT=0 CLOSEAP=1
sim_drive 1 1:0:0 disc=1 remove_disc_on_eject=1
start_quorel
start_ready_window || return 0
click Update
expect_dialog Warning exclamation "Please remove the disc."
expect_text lblMsg "Tray Out ..."
answer ok
expect_report Information information "$SUCCESS" 120
expect_exit 30
cdbs=$(exec_lines 1 | field cdb)
eject=$(grep -n '^1B0000000200' <<<"$cdbs" | head -1 | cut -d: -f1)
load=$(grep -n '^1B0000000300' <<<"$cdbs" | head -1 | cut -d: -f1)
first_write=$(grep -n '^3B' <<<"$cdbs" | head -1 | cut -d: -f1)
[ -n "$eject" ] && [ -n "$load" ] && [ -n "$first_write" ] &&
  [ "$eject" -lt "$load" ] && [ "$load" -lt "$first_write" ] ||
  fail "tray out ($eject), tray in ($load) and download ($first_write) out of order"
check_download 1 A0 1240
