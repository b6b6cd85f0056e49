# An update through the pass-through: the drive listed through its letter, the exact command
# stream of the download among the kernel's own commands, the programmed image, the success
# report and the new revision in the list.
use_package reboot0 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
revision = KM01
INI
kernel_drives || return 0
start_quorel
start_ready_window || return 0

items=$(drv combo-items)
item=$(sed -n 's/^ITEM //p' <<<"$items")
echo "drive list: $item"
[[ $item == "0 "*"TARN-EX DVDRW QVX-270T   KM01" ]] || fail "drive list: got [$item]"
expect_text lblOldFW KM01
expect_text lblNewFW KM0P

click Update
expect_dialog Information information "$SUCCESS" 240
answer ok
item=$(drv combo-items | sed -n 's/^ITEM //p')
[[ $item == "0 "*"TARN-EX DVDRW QVX-270T   KM0P" ]] || fail "drive list after the update: got [$item]"
click Close
expect_exit 30

check_download 1 A0 1240
expect_eq "$(count_log '^PROGRAM drive=1 .* control=A0 .* revision=KM0P')" 1 "one programming"
