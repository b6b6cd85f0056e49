# N2OMESSAGE 1, drive already at the new revision: the question; No ends the program.
case_on aspi
use_package n2o N2OMESSAGE=1
sim_drive 1 1:0:0 revision=KM0P
start_quorel
start_ready_window || return 0
expect_text lblOldFW KM0P
click Update
expect_dialog Warning exclamation "Your drive's Firmware is already the most updated !\\n Do you wish to continue ?"
expect_eq "$(sed -n 's/^BUTTONS //p' "$SCN_DIR/transcript" | tail -1)" "&Yes &No" "buttons"
answer no
expect_exit 30
expect_nothing_written
