# A bank that reaches past the image area: refused at start-up, before any drive is touched.
case_on aspi
use_patched_package BIN_START1=0000000000 BIN_START1=0000524288 || return 0
sim_scenario <<'INI'
[drive1]
address = 1:0:0
INI
start_quorel
expect_dialog Error stop 'The firmware package carried in this program cannot be used.\n\nThe package is damaged: bank 1 reaches past the image area.'
answer ok
expect_exit 30
expect_untouched
