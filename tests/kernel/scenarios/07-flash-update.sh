# quorel-flash, natively through SG_IO: the drive found among the kernel's optical drives, the
# exact command stream of the download, the programmed image and the success line. Notes the
# update's wall time against the drive's own time (each command's latency plus the settle wait).
use_package reboot0 REBOOT=0
sim_scenario <<'INI'
[drive1]
address = 0:0:0
revision = KM01
latency_ms = 10
INI
kernel_drives || return 0
run_flash --yes "$E2E_WORK/pkg/reboot0.exe"
expect_eq "$FLASH_STATUS" 0 "exit code"
expect_said "It will be updated from KM01 to KM0P"
expect_said "Information: $SUCCESS"
check_download 1 A0 1240
expect_eq "$(count_log '^PROGRAM drive=1 .* control=A0 .* revision=KM0P')" 1 "one programming"

# The drive's own time: each command took it 10 ms, and the download waits 1 s before the final
# command. Whole run: every command after the mark; the download alone: from its first command
# to the end of the final command.
ratio() { awk -v w="$1" -v d="$2" 'BEGIN { printf "%.2f", w / d }'; }
commands=$(awk '/^MARK /{ m = 1 } m && /^EXEC /' "$SCN_DIR/sim.log" | wc -l)
drive_ms=$((commands * 10 + 1000))
download=$(download_stream 1 | wc -l)
download_drive_ms=$((download * 10 + 1000))
download_ms=$(program_lines 1 | awk '
  !handle && $2 ~ /^3B/ { handle = $1 }
  { open[NR] = $1; t[NR] = $5; final[NR] = $2 ~ /^3B0501000000000000/ }
  END {
    for (i = 1; i <= NR; ++i) {
      if (open[i] == handle && !first) first = t[i]
      if (final[i]) last = t[i]
    }
    print last + 10 - first
  }')
{
  echo "update: ${FLASH_MS} ms wall, drive ${drive_ms} ms ($commands commands x 10 ms + 1000 ms" \
    "settle): ratio $(ratio "$FLASH_MS" "$drive_ms")"
  echo "download alone: ${download_ms} ms, drive ${download_drive_ms} ms ($download commands" \
    "x 10 ms + 1000 ms): ratio $(ratio "$download_ms" "$download_drive_ms")"
} >"$SCN_DIR/note"
