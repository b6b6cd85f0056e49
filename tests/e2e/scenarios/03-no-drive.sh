# No drive at all: the no-match message ends with the empty list.
make_package shipped
install_flasher "$E2E_WORK/pkg/shipped.exe"
sim_scenario <<'INI'
[manager]
adapters = 1
INI
start_quorel
expect_dialog Error stop "$NO_MATCH"
answer ok
expect_exit 30
expect_eq "$(exec_lines | wc -l)" 0 "commands executed"
