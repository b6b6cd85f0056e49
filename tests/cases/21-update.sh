# An update through the kernel's pass-through: the drive found through its letter (quorel.exe
# under Wine) or among the kernel's optical drives (quorel-flash), the exact command stream of the
# download among the kernel's own commands, the programmed image, the success report and the new
# revision. quorel-flash notes the update's wall time against the drive's own time (each
# command's latency plus the settle wait).
case_on wine flash
use_package reboot0 REBOOT=0
sim_drive 1 0:0:0 revision=KM01 latency_ms=10
drives_ready || return 0
case $FRONT in
  wine)
    start_quorel
    start_ready_window || return 0
    item=$(drv combo-items | sed -n 's/^ITEM //p')
    echo "drive list: $item"
    [[ $item == "0 "*"TARN-EX DVDRW QVX-270T   KM01" ]] || fail "drive list: got [$item]"
    expect_text lblOldFW KM01
    expect_text lblNewFW KM0P
    click Update
    expect_report Information information "$SUCCESS" 240
    item=$(drv combo-items | sed -n 's/^ITEM //p')
    [[ $item == "0 "*"TARN-EX DVDRW QVX-270T   KM0P" ]] || fail "drive list after the update: got [$item]"
    close_window
    ;;
  flash)
    run_flash --yes "$E2E_WORK/pkg/reboot0.exe"
    expect_eq "$FLASH_STATUS" 0 "exit code"
    expect_said "It will be updated from KM01 to KM0P"
    expect_said "Information: $SUCCESS"
    note_update_time 1 10
    ;;
esac
check_download 1 A0 1240
expect_eq "$(count_log '^PROGRAM drive=1 .* control=A0 .* revision=KM0P')" 1 "one programming"
