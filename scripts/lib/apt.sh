# APT for scripts/setup and tests/kernel/build-guest (sourced): the machine's sources read in
# either format (tests/setup runs that on fixtures), and update and install that survive a mirror
# in mid-sync. Such a mirror serves an index that does not match its release file, and
# `apt-get update` fails for that index alone: apt_update says which, and apt_install installs
# without that suite (pinned away, so that the packages of two architectures do not come from
# two states of the mirror) and, if the install still fails, prints apt's reason and what to do.

# apt_source SUITE FILE...: prints "URI KEYRING" of the first enabled binary ("deb") source that
# carries SUITE, from one-line files (sources.list, *.list) and deb822 files (*.sources); KEYRING
# is "-" where the source names none. Prints nothing, and fails, where none does.
apt_source() {
  local suite=$1
  shift
  [ $# -gt 0 ] || return 1
  awk -v suite="$suite" '
    function has(list, word) { return (" " list " ") ~ ("[ \t]" word "[ \t]") }
    function stanza_end() {
      if (d822 && enabled && has(types, "deb") && has(suites, suite) && uri != "") {
        print uri, (key == "" ? "-" : key); found = 1; exit
      }
      d822 = 0; enabled = 1; types = suites = uri = key = ""
    }
    FNR == 1 { stanza_end(); deb822 = FILENAME ~ /\.sources$/ }
    deb822 && /^[ \t]*$/ { stanza_end(); next }
    /^[ \t]*#/ { next }
    deb822 {
      d822 = 1
      if (!match($0, /^[A-Za-z-]+:/)) next  # a continuation line (an inline key)
      field = tolower(substr($0, 1, RLENGTH - 1)); value = substr($0, RLENGTH + 1)
      sub(/[ \t]*#.*$/, "", value); gsub(/^[ \t]+|[ \t]+$/, "", value)
      if (field == "types") types = value
      else if (field == "suites") suites = value
      else if (field == "uris") { uri = value; sub(/[ \t].*/, "", uri) }
      else if (field == "signed-by") key = (value ~ /^\//) ? value : ""
      else if (field == "enabled") enabled = (tolower(value) !~ /^(no|false|0)$/)
      next
    }
    {
      sub(/#.*$/, "")
      if ($1 != "deb") next
      line = substr($0, index($0, "deb") + 3); key = ""
      if (match(line, /^[ \t]*\[[^]]*\]/)) {  # [ options ]
        opts = substr(line, RSTART, RLENGTH); line = substr(line, RSTART + RLENGTH)
        if (match(opts, /signed-by=[^] \t]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
      }
      n = split(line, word, /[ \t]+/); i = (word[1] == "") ? 2 : 1
      if (n >= i + 1 && word[i + 1] == suite) {
        print word[i], (key ~ /^\// ? key : "-"); found = 1; exit
      }
    }
    END { if (!found) stanza_end(); exit !found }
  ' "$@"
}

# apt_source_files: the machine's source files, one-line first.
apt_source_files() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && printf '%s\n' "$f"
  done
  return 0
}

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
updated=""        # empty: the package lists need a refresh
failed_suites=()  # suites whose index the last update could not fetch
apt_update() {
  [ -z "$updated" ] || return 0
  updated=1
  local out
  if out=$($SUDO apt-get update -qq -o Acquire::Retries=3 -o DPkg::Lock::Timeout=600 2>&1); then
    failed_suites=()
    return 0
  fi
  mapfile -t failed_suites < <(sed -n 's|^[EW]: Failed to fetch .*/dists/\([^/]*\)/.*|\1|p' <<<"$out" | sort -u)
  if [ ${#failed_suites[@]} -eq 0 ]; then
    printf '%s\n' "$out" >&2
    echo "setup: apt-get update failed; see apt's words above" >&2
    return 1
  fi
  grep -E '^[EW]: Failed to fetch' <<<"$out" | sed 's/^/setup: apt: /' >&2
  echo "setup: could not refresh the index of ${failed_suites[*]} (a mirror in mid-sync?);" \
    "installing without that suite" >&2
}
# apt_install ARGS...: apt-get install, without the suites whose index failed, and with apt's
# reason and a hint when it fails.
apt_install() {
  local pin="" out status=0 suite
  if [ ${#failed_suites[@]} -gt 0 ]; then
    pin=$(mktemp /tmp/quorel-apt-pin.XXXXXX)
    for suite in "${failed_suites[@]}"; do
      printf 'Package: *\nPin: release n=%s\nPin-Priority: -1\n\n' "$suite"
    done >"$pin"
  fi
  out=$(DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
    ${pin:+-o Dir::Etc::Preferences="$pin"} "$@" 2>&1 >/dev/null) || status=$?
  [ -z "$pin" ] || rm -f "$pin"
  [ "$status" -ne 0 ] || return 0
  printf '%s\n' "$out" | { grep -E '^(E:|W:| )' || true; } | tail -n 20 >&2
  if [ ${#failed_suites[@]} -gt 0 ]; then
    echo "setup: the install failed while the index of ${failed_suites[*]} could not be fetched:" \
      "the mirror is probably in mid-sync; try again later" >&2
  else
    echo "setup: the install failed; apt's reason is above (check the sources in /etc/apt)" >&2
  fi
  return "$status"
}
