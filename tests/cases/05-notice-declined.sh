# The notice answered No: the program ends and nothing is written.
case_on aspi
use_package shipped
sim_drive 1 1:0:0
start_quorel
expect_dialog Warning exclamation "$NOTICE"
answer no
expect_exit 30
expect_nothing_written
