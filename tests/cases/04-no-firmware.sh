# HOW_MANY_BIN 0: refused before any drive is touched.
case_on aspi
use_patched_package HOW_MANY_BIN=1 HOW_MANY_BIN=0 || return 0
sim_drive 1 1:0:0
start_quorel
expect_report Error stop 'No F/W in executable !'
expect_exit 30
expect_untouched
