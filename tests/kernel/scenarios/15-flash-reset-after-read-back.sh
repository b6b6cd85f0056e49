# quorel-flash, the drive reset right after the read-back of the image's last block, with the
# kernel's media poll on (every 100 ms, as a desktop may have it): quorel-flash turns the poll off
# for the update, so the unit attention goes to its own next command, the whole read-back pass's
# first read, instead of to the poll. The download starts over from the part block, and the drive
# programs exactly the image with its part block. The poll is as it was afterwards.
use_package reboot0 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
revision = KM01
reset_fault = 3C 63 1
event_status_attention = 1
INI
KERNEL_POLL_MS=100 kernel_drives || return 0
node=$(sed -n 's/^drive 1: LUN [0-9]*, \([^,]*\),.*/\1/p' "$SCN_DIR/drives")
run_flash --yes --log "$SCN_DIR/flash.log" "$E2E_WORK/pkg/reboot0.exe"
expect_eq "$FLASH_STATUS" 0 "exit code"
expect_said "Information: $SUCCESS"
check_reset_recovered 1 program
grep -qF "The media poll of $node is off for the update (it was 100; restored afterwards)." \
  "$SCN_DIR/flash.log" || fail "the log does not say the media poll of $node was turned off"
expect_eq "$(cat "/sys/block/${node#/dev/}/events_poll_msecs")" 100 "the media poll after the run"
