# shellcheck shell=bash
# The host's binding of the test cases (tests/cases/lib.sh, sourced first): quorel.exe under Wine
# against the test ASPI manager, whose simulated drives log every command with the thread that
# sent it. Sourced by run-all, scripts/demo and scripts/screenshots.

# shellcheck source=../cases/lib.sh
source "$E2E_ROOT/tests/cases/lib.sh"
export CASE_BINDING=tests/e2e/lib.sh

# ---- Prefixes ----

# make_base_prefix DIR: a 32-bit prefix with the test ASPI manager in its system directory, the
# window driver in C:\quorel, and the relay trace limited to the restart request.
make_base_prefix() {
  local prefix=$1
  (
    export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
    # No Mono or Gecko: nothing here needs them, and their installers would ask. No menu builder:
    # it would write desktop entries into the user's home.
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
      timeout -k 5 "$E2E_BOOT_LIMIT" wineboot -i </dev/null >/dev/null 2>&1 || {
      e2e_log "make_base_prefix: wineboot failed or took longer than ${E2E_BOOT_LIMIT}s"
      wineserver -k 2>/dev/null
      exit 1
    }
    local system32=$prefix/drive_c/windows/system32
    # Replace Wine's own stub, whatever the case of its name, so only one file answers.
    find "$system32" -maxdepth 1 -iname wnaspi32.dll -delete &&
      cp "$E2E_WIN32/tests/e2e/WNASPI32.dll" "$system32/wnaspi32.dll" &&
      mkdir -p "$prefix/drive_c/quorel" &&
      cp "$E2E_WIN32/tests/e2e/quorel-uidriver.exe" "$prefix/drive_c/quorel/" &&
      wine_reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /d '' /f &&
      wine_reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.ExitWindowsEx' /f &&
      wine_idle
  )
}

# use_prefix BASE DIR: a fresh copy of the base prefix for one scenario; exports WINEPREFIX.
use_prefix() {
  rm -rf "$2"
  cp -a "$1" "$2"
  export WINEPREFIX=$2 WINEARCH=win32 WINEDEBUG=-all
}

# ---- The program and its drives ----

# start_quorel [WINEDEBUG [ARGS...]]: runs C:\quorel\quorel.exe ARGS in the background against
# the simulated machine; QUOREL_PID is its wine process. Output goes to quorel.out. With DRV_DESKTOP set, the
# program runs in a Wine virtual desktop of that name and size DRV_DESKTOP_SIZE (800x600), so
# that frame and caption show without a window manager.
start_quorel() {
  local debug=${1:--all}
  local run=('C:\quorel\quorel.exe' "${@:2}")
  if [ -n "${DRV_DESKTOP:-}" ]; then
    run=(explorer "/desktop=$DRV_DESKTOP,${DRV_DESKTOP_SIZE:-800x600}" "${run[@]}")
  fi
  rm -f "$SCN_DIR/quorel.ended"
  (
    cd "$WINEPREFIX/drive_c/quorel" &&
      QUOREL_SIM_SCENARIO=$SCN_DIR/machine.ini QUOREL_SIM_LOG=$SCN_DIR/sim.log \
        WINEDLLOVERRIDES=wnaspi32=n WINEDEBUG=$debug wine "${run[@]}"
    status=$?
    : >"$SCN_DIR/quorel.ended"  # for the window driver, which cannot wait for this process
    exit "$status"
  ) >>"$SCN_DIR/quorel.out" 2>&1 &
  QUOREL_PID=$!
}

# drives_ready: the test ASPI manager reads machine.ini when the program loads it.
drives_ready() { :; }

# program_lines DRIVE: "tid cdb dir len t hash cdblen" of each command the drive received; on the
# host every command is the program's.
program_lines() {
  exec_lines "$1" | awk '{
      for (i = 1; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      print v["tid"], v["cdb"], v["dir"], v["len"], v["t"], v["hash"], v["cdblen"]
    }'
}

# check_cdb_lengths DRIVE: the test ASPI manager sees the CDB length the program gave.
check_cdb_lengths() {
  expect_eq "$(program_lines "$1" | awk '$7 != 12' | wc -l)" 0 \
    "drive $1: commands with a CDB length other than 12"
}

# fnv1a FILE [BLOCK]: FNV-1a 64 of FILE, or of each BLOCK bytes of it, as the drives hash.
fnv1a() {
  drv fnv1a "Z:$1" ${2:+"$2"}
}

# ---- Screenshots ----

# screenshot_update DIR: runs one manual update of the installed flasher in a Wine virtual
# desktop and saves 1-notice.png, 2-ready.png, 3-updating.png, 4-success.png and, when the
# package lets the window stay, 5-updated.png in DIR. Needs an X display (Xvfb).
screenshot_update() {
  local dir=$1
  mkdir -p "$dir"
  local DRV_DESKTOP=${DRV_DESKTOP:-quorel}
  shoot() {
    sleep 0.7  # let the desktop repaint
    import -window root "$dir/$1.png"
  }
  start_quorel "${2:--all}"
  expect_dialog Warning exclamation "$NOTICE" || return 1
  shoot 1-notice
  answer yes
  drv wait-window 30 >/dev/null || {
    fail "the main window did not appear"
    return 1
  }
  shoot 2-ready
  click Update
  drv wait-text lblPercent "5 %" 30 >/dev/null || fail "no progress shown"
  shoot 3-updating
  expect_dialog Information information "$SUCCESS" 180 || return 1
  shoot 4-success
  answer ok
  if wait_quorel 3; then
    return 0  # REBOOT or CLOSEAP ended it
  fi
  shoot 5-updated
  click Close
  wait_quorel 30
}
