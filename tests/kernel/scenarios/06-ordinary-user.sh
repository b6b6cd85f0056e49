# Wine as an ordinary user (in the group cdrom, as on a desktop): the kernel lets INQUIRY through
# but refuses WRITE BUFFER and the vendor command to a caller without CAP_SYS_RAWIO, so Wine's
# pass-through fails with access denied; nothing reaches the drive's buffer, and the failure is
# reported with the reason.
use_package auto1 AUTOMODE=1 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
INI
kernel_as_user
kernel_drives || return 0
start_quorel
expect_dialog Warning exclamation "$NOTICE"
answer yes
expect_dialog Error stop "$FAILURE$ACCESS_DENIED" 240
answer ok
expect_exit 30
[ "$(program_count 1 '^12')" -ge 1 ] || fail "no INQUIRY reached the drive"
expect_eq "$(program_count 1 '^DF')" 0 "vendor commands that reached the drive"
expect_nothing_written
