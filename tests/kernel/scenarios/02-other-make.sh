# A drive of another make: the no-match message lists it through its letter, and nothing is
# written to it.
use_package shipped
sim_scenario <<'INI'
[drive1]
address = 0:1:0
vendor = "ACMEDISK"
product = "CD-RW 52X"
revision = 1.00
INI
kernel_drives || return 0
start_quorel
out=$(drv wait-dialog 120) || fail "no dialog: $(tail -1 <<<"$out")"
text=$(sed -n 's/^TEXT //p' <<<"$out")
expect_eq "$(sed -n 's/^DIALOG caption=\(.*\) icon=.*/\1/p' <<<"$out")" Error "dialog caption"
[[ $text == "$NO_MATCH"*" D:ACMEDISKCD-RW 52X        1.00\\n" ]] ||
  fail "no-match message: got [$text]"
answer ok
expect_exit 30
expect_eq "$(program_count 1 '^12')" 1 "INQUIRY during discovery"
expect_nothing_written
