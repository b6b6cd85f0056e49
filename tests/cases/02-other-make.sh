# A drive of another make only: the no-match message lists it, and nothing is written to it.
case_on aspi wine flash
use_package shipped
sim_drive 1 0:1:0 "${OTHER_MAKE[@]}"
drives_ready || return 0
case $FRONT in
  aspi)
    start_quorel
    expect_report Error stop "$NO_MATCH$(drive_line 0 0 1 0 '' 'ACMEDISKCD-RW 52X       ' 1.00)\\n"
    expect_exit 30
    ;;
  wine)
    # Through the kernel the drive has its letter and the address the kernel gives it.
    start_quorel
    out=$(drv wait-dialog 120) || fail "no dialog: $(tail -1 <<<"$out")"
    text=$(sed -n 's/^TEXT //p' <<<"$out")
    expect_eq "$(sed -n 's/^DIALOG caption=\(.*\) icon=.*/\1/p' <<<"$out")" Error "dialog caption"
    [[ $text == "$NO_MATCH"*" D:ACMEDISKCD-RW 52X        1.00\\n" ]] ||
      fail "no-match message: got [$text]"
    answer ok
    expect_exit 30
    ;;
  flash)
    run_flash --yes --drive "$(kernel_node 0)" "$E2E_WORK/pkg/shipped.exe"
    expect_eq "$FLASH_STATUS" 3 "exit code"
    expect_said "Error: $NO_MATCH"
    grep -qx ' *[0-9-]* D:ACMEDISKCD-RW 52X        1.00' "$SCN_DIR/flash.out" ||
      fail "the drive is not listed in the no-match message"
    ;;
esac
expect_eq "$(program_count 1 '^12')" 1 "INQUIRY during discovery"
expect_nothing_written
