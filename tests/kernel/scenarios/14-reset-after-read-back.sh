# The drive resets right after the read-back of the image's last block, and the kernel's media
# poll (every 100 ms, as desktops have it) takes its unit attention before the program could see
# it: the whole read-back before the final command finds the buffer empty, the download starts
# over from the part block, and the drive programs exactly the image with its part block.
use_package reboot0 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
revision = KM01
reset_fault = 3C 63 1
event_status_attention = 1
INI
KERNEL_POLL_MS=100 kernel_drives || return 0
start_quorel
start_ready_window || return 0
click Update
expect_dialog Information information "$SUCCESS" 240
answer ok
click Close
expect_exit 30
check_reset_recovered 1
