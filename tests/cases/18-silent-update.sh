# /S /log with the package's restart on: no window or dialog at any time, the drive updated, the
# restart left to the caller (exit 3010, and no restart request in the relay trace), the log's
# lines. The log is appended to: a second, failing run adds its own lines after the first's.
case_on aspi
use_package shipped
sim_drive 1 1:0:0 revision=KM01
start_quorel -all,+relay /S '/log=C:\quorel\run.log'
expect_unseen 120
expect_eq "$QUOREL_STATUS" $((3010 % 256)) "exit status (3010 modulo 256)"
expect_eq "$(grep -c 'Call user32.ExitWindowsEx' "$SCN_DIR/quorel.out")" 0 "restart requests"
expect_eq "$(count_log '^PROGRAM drive=1 .* revision=KM0P')" 1 "drive programmed"
check_download 1 A0 1240
log=$WINEPREFIX/drive_c/quorel/run.log
grep -qvE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ' "$log" && fail "a log line without its time stamp"
cut -c21- "$log" | tr -d '\r' | grep -v '^system: ' >"$SCN_DIR/run.log.lines"
diff "$SCN_DIR/run.log.lines" - >"$SCN_DIR/run.log.diff" <<'LOG' || fail "the log's lines differ (run.log.diff)"
program quorel.exe 2.0.0
command line: /S /log=C:\quorel\run.log
package: "Flash Program for TARN-EX DVDRW QVX-270T", new revision KM0P, sealed, digest verified, part blocks placeholder, intact
transport: ASPI manager
drive 1-0-0-0: "TARN-EX DVDRW QVX-270T" revision KM01: may be updated to KM0P
notice: answered yes
drive 1-0-0-0: update started, KM01 to KM0P
drive 1-0-0-0: update succeeded
drive 1-0-0-0: revision now KM0P
restart: asked by the package, left to the caller
exit code 3010
LOG
grep -qE '^system: Windows [0-9]+\.[0-9]+ \((NT|9x) family\)$' <(cut -c21- "$log" | tr -d '\r') ||
  fail "no system line"
