# An ordinary user (in the group cdrom, as on a desktop): the kernel lets INQUIRY through but
# refuses WRITE BUFFER and the vendor command to a caller without CAP_SYS_RAWIO, so the
# pass-through fails with access denied; nothing reaches the drive's buffer, and the failure is
# reported with the reason (quorel-flash: exit 4).
case_on wine flash
use_package auto1 AUTOMODE=1 REBOOT=0
sim_drive 1 0:0:0
kernel_as_user
drives_ready || return 0
case $FRONT in
  wine)
    start_quorel
    accept_notice
    expect_report Error stop "$FAILURE$ACCESS_DENIED" 240
    expect_exit 30
    ;;
  flash)
    cp "$E2E_WORK/pkg/auto1.exe" /tmp/auto1.exe && chmod 644 /tmp/auto1.exe
    run_flash --yes --drive "$(kernel_node 0)" /tmp/auto1.exe
    expect_eq "$FLASH_STATUS" 4 "exit code"
    expect_said "Error: $FAILURE$ACCESS_DENIED_AS_ROOT"
    ;;
esac
[ "$(program_count 1 '^12')" -ge 1 ] || fail "no INQUIRY reached the drive"
expect_eq "$(program_count 1 '^DF')" 0 "vendor commands that reached the drive"
expect_nothing_written
