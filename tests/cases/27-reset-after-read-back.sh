# The drive resets right after the read-back of the image's last block, with the kernel's media
# poll on (every 100 ms, as desktops may have it). Under Wine the poll takes the unit attention
# before the program could see it: the whole read-back before the final command finds the buffer
# empty. quorel-flash turns the poll off for the update (and back afterwards), so the unit
# attention goes to its own next command, the whole pass's first read. Either way the download
# starts over from the part block, and the drive programs exactly the image with its part block.
case_on wine flash
use_package reboot0 REBOOT=0
sim_drive 1 0:0:0 revision=KM01 'reset_fault=3C 63 1' event_status_attention=1
KERNEL_POLL_MS=100 drives_ready || return 0
node=$(kernel_node 0)
case $FRONT in
  wine)
    start_quorel
    start_ready_window || return 0
    click Update
    expect_report Information information "$SUCCESS" 240
    close_window
    check_reset_recovered 1
    ;;
  flash)
    run_flash --yes --log "$SCN_DIR/flash.log" "$E2E_WORK/pkg/reboot0.exe"
    expect_eq "$FLASH_STATUS" 0 "exit code"
    expect_said "Information: $SUCCESS"
    check_reset_recovered 1 program
    grep -qF "The media poll of $node is off for the update (it was 100; restored afterwards)." \
      "$SCN_DIR/flash.log" || fail "the log does not say the media poll of $node was turned off"
    expect_eq "$(cat "/sys/block/${node#/dev/}/events_poll_msecs")" 100 "the media poll after the run"
    ;;
esac
