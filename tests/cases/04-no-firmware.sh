# HOW_MANY_BIN 0: refused before any drive is touched.
case_on aspi
use_patched_package HOW_MANY_BIN=1 HOW_MANY_BIN=0 || return 0
sim_scenario <<'INI'
[drive1]
address = 1:0:0
INI
start_quorel
expect_dialog Error stop 'No F/W in executable !'
answer ok
expect_exit 30
expect_untouched
