# No drive at all: the no-match message ends with the empty list.
case_on aspi
use_package shipped
sim_scenario <<'INI'
[manager]
adapters = 1
INI
start_quorel
expect_report Error stop "$NO_MATCH"
expect_exit 30
[ "$(count_log '^SUPPORT ')" -ge 1 ] || fail "the ASPI manager was never asked"
expect_eq "$(exec_lines | wc -l)" 0 "commands executed"
