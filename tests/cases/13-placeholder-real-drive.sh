# The tree's build carries the placeholder part blocks. A drive that does not prove itself the
# simulated test drive (its vendor-specific INQUIRY bytes are a real drive's date) is sent nothing
# by the update: no disc check, no part block, no image, no final command. The failure message
# says why, and the program ends.
case_on aspi
use_package placeholder CHKDISC=1 REBOOT=0
sim_drive 1 1:0:0 revision=KM01 vendor_specific=2004/01/14 disc=1
start_quorel
start_ready_window || return 0
click Update
expect_report Error stop "$FAILURE$PLACEHOLDER_REFUSED" 60
expect_exit 30
expect_nothing_written
expect_eq "$(exec_lines 1 | field cdb | grep -vc '^\(00\|12\|DF\)')" 0 \
  "commands other than the identity reads"
