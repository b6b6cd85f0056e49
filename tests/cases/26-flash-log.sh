# quorel-flash --yes --log through the real stack: the log's time-stamped lines. Then a second run
# while the drive's lock file is held, as a first run holds it: after waiting 5 s (for a check that
# might hold the lock) the drive is reported busy and receives nothing, exit 6, and the busy line
# is appended to the same log.
case_on flash
use_package reboot0 REBOOT=0
sim_drive 1 0:0:0 revision=KM01
drives_ready || return 0
node=$(kernel_node 0)
log=$SCN_DIR/flash.log
run_flash --yes --log "$log" --drive "$node" "$E2E_WORK/pkg/reboot0.exe"
expect_eq "$FLASH_STATUS" 0 "exit code"
expect_eq "$(count_log '^PROGRAM drive=1 .* revision=KM0P')" 1 "one programming"
grep -qvE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ' "$log" && fail "a log line without its time stamp"
grep -qE '^system: Linux [^ ]+ \([a-z0-9_]+\)$' <(cut -c21- "$log") || fail "no system line"
cut -c21- "$log" | grep -v '^system: ' | sed -E 's/^drive [0-9]+-[0-9]+-[0-9]+-[0-9]+ \(D:\):/drive ADDRESS (D:):/' |
  diff - <(
    cat <<LOG
program quorel-flash 2.0.0
command line: --yes --log $log --drive $node $E2E_WORK/pkg/reboot0.exe
signature: unsigned
package: "Flash Program for TARN-EX DVDRW QVX-270T", new revision KM0P, sealed, digest verified, part blocks placeholder, intact
transport: SCSI pass-through
drive ADDRESS (D:): "TARN-EX DVDRW QVX-270T" revision KM01: may be updated to KM0P
notice: answered yes
The media poll of $node is off already.
drive ADDRESS (D:): update started, KM01 to KM0P
drive ADDRESS (D:): update succeeded
drive ADDRESS (D:): revision now KM0P
restart: not asked by the package
exit code 0
LOG
  ) >"$SCN_DIR/log.diff" || fail "the log's lines differ (log.diff)"

lock_dir=/tmp
[ -d /run/lock ] && lock_dir=/run/lock
exec 9>"$lock_dir/quorel-flash.$((16#$(stat -c %t "$node")))-$((16#$(stat -c %T "$node"))).lock"
flock 9
run_flash --yes --log "$log" --drive "$node" "$E2E_WORK/pkg/reboot0.exe"
exec 9>&-
expect_eq "$FLASH_STATUS" 6 "exit code of the second run (busy, try again later)"
grep -q "^quorel-flash: $node is busy: " "$SCN_DIR/flash.out" || fail "no busy line"
expect_eq "$(cut -c21- "$log" | sed -n 's/ is busy: .*//p')" "$node" "busy line in the log"
expect_eq "$(awk '/^MARK /{ n = 0 } /^EXEC /{ ++n } END { print n + 0 }' "$SCN_DIR/sim.log")" 0 \
  "commands the drive received during the second run"
