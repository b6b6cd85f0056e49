# A drive of another make only: the no-match message lists it, nothing is written.
use_package shipped
sim_scenario <<'INI'
[drive1]
address = 0:1:0
vendor = "ACMEDISK"
product = "CD-RW 52X"
revision = 1.00
INI
start_quorel
expect_dialog Error stop "$NO_MATCH$(drive_line 0 0 1 0 '' 'ACMEDISKCD-RW 52X       ' 1.00)\\n"
answer ok
expect_exit 30
expect_eq "$(exec_lines 1 | field cdb | grep -c '^12')" 1 "INQUIRY during discovery"
expect_nothing_written
