# The final command answered CHECK CONDITION with descriptor-format sense (4/44/00): the whole
# image went out and read back equal, the final command went once, and the failure is reported
# with the line that the drive may have been updated all the same.
case_on wine
use_package auto1 AUTOMODE=1 REBOOT=0
# The final command, after the part block and the 64 image blocks, answers with the sense.
sim_drive 1 0:0:0 'sense_fault=3B 65 1 4 44 00 descriptor'
drives_ready || return 0
start_quorel
accept_notice
expect_report Error stop "$FAILURE$UNCONFIRMED" 240
expect_exit 30
diff <(download_stream 1) <(expected_download A0 1240) >"$SCN_DIR/stream1.diff" ||
  fail "the download before the final command differs (stream1.diff)"
expect_eq "$(program_count 1 '^3B0501000000000000')" 1 "final commands"
expect_eq "$(grep -c ' cdb=3B0501000000000000A00000 .* status=check sense=4/44/00 ' "$SCN_DIR/sim.log")" 1 \
  "final command answered with the sense"
expect_eq "$(count_log '^PROGRAM ')" 0 "drives programmed"
