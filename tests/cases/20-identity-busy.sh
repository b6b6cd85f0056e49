# A drive that answers the preparation's flash part identity read once with BUSY (status 08h, no
# sense) is not written until an attempt has read its part and sent it the part block: the first
# attempt ends at that read, and the second is the whole download, part block first.
case_on aspi
use_package busy-identity REBOOT=0
sim_drive 1 1:0:0 revision=KM01 'flash_id=BF D8 00 05' 'busy_fault=DF 1 1'
start_quorel
start_ready_window || return 0
click Update
expect_report Information information "$SUCCESS" 120
check_download 1 A0 1240 1
expect_eq "$(count_log '^PROGRAM drive=1 ')" 1 "the drive programmed"
close_window
