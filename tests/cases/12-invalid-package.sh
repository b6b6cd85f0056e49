# A bank that reaches past the image area: refused at start-up, before any drive is touched.
case_on aspi
use_patched_package BIN_START1=0000000000 BIN_START1=0000524288 || return 0
sim_drive 1 1:0:0
start_quorel
expect_report Error stop 'The firmware package carried in this program cannot be used.\n\nThe package is damaged: bank 1 reaches past the image area.'
expect_exit 30
expect_untouched
