# The notice answered No: the program ends and nothing is written.
make_package shipped
install_flasher "$E2E_WORK/pkg/shipped.exe"
sim_scenario <<'INI'
[drive1]
address = 1:0:0
INI
start_quorel
expect_dialog Warning exclamation "$NOTICE"
answer no
expect_exit 30
expect_eq "$(writes_to 1)" 0 "WRITE BUFFER commands"
