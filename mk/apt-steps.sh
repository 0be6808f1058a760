# shellcheck shell=bash
# The two apt steps every install of the build uses (sourced, not run):
# updating the package lists and installing packages. Both are written for a
# mirror that is not always whole: an index caught mid-sync fails alone and
# the install goes on with the lists the machine has.
#
# KKM_APT_RELEASE_TARGET=1 allows one more try of an install that apt cannot
# resolve, with the running release's own suite as target (apt-get install
# -t CODENAME). That moves installed packages to that suite's versions,
# dropping newer security updates, so it is never done unless asked for
# (.ci/run asks; windows/README.md says what it changes).

# apt_say LINE: one line on stderr, prefixed like the rest of the install.
apt_say() {
  echo "install: $*" >&2
}

# apt_update_lists [APT_OPTION...]: apt-get update. Each index that fails
# gets one line naming it and apt's reason; the lists fetched before stay in
# use. Fails only when apt-get itself cannot run.
apt_update_lists() {
  local log rc=0
  log=$(mktemp)
  apt-get "$@" update -qq > "$log" 2>&1 || rc=$?
  if [[ $rc != 0 ]]; then
    # "E: Failed to fetch URL  REASON" names each index that failed.
    local failed
    failed=$(sed -n 's/^E: Failed to fetch \([^ ]*\) *\(.*\)$/\1 (\2)/p' "$log")
    if [[ -n "$failed" ]]; then
      while IFS= read -r line; do
        apt_say "the package index ${line%% *} could not be updated ${line#* }; going on with the lists this machine has"
      done <<< "$failed"
    else
      apt_say "apt-get update failed ($(grep -m 1 '^E:' "$log" || tail -n 1 "$log")); going on with the lists this machine has"
    fi
  fi
  rm -f "$log"
  return 0
}

# apt_unresolved LOG [APT_OPTION...] -- PACKAGE...: apt's reason, in one
# line, when the log is that of an install apt could not resolve (unmet
# dependencies, held broken packages); nothing otherwise. A quiet install
# gives only the verdict, so a simulated one is asked for the first unmet
# dependency.
apt_unresolved() {
  local log=$1
  shift
  grep -q -e 'held broken packages' -e 'unmet dependencies' "$log" || return 0
  local first
  first=$(apt-get -s install --no-install-recommends "$@" 2>&1 |
    awk '/^ [^ ].* : Depends: / && !found { found = 1; sub(/^ */, ""); gsub(/  +/, " "); print }')
  echo "$(grep -m 1 '^E:' "$log" | sed 's/^E: //; s/\.$//')${first:+; first unmet: $first}"
}

# apt_install PACKAGE...: installs the packages (as root). One line says why
# when it fails; an install apt cannot resolve is tried once more against the
# release's own suite when KKM_APT_RELEASE_TARGET=1.
apt_install() {
  local log rc=0
  log=$(mktemp)
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" > "$log" 2>&1 || rc=$?
  if [[ $rc == 0 ]]; then
    rm -f "$log"
    return 0
  fi
  local reason
  reason=$(apt_unresolved "$log" "$@")
  if [[ -z "$reason" ]]; then
    apt_say "apt-get install $* failed: $(grep -m 1 '^E:' "$log" || tail -n 1 "$log")"
    rm -f "$log"
    return 1
  fi
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [[ ${KKM_APT_RELEASE_TARGET:-0} != 1 || -z "$codename" ]]; then
    apt_say "apt cannot resolve the install of $* ($reason); where package versions of two architectures disagree, KKM_APT_RELEASE_TARGET=1 tries once more with the release suite ${codename:-of this system} as target (moves installed packages to its versions, dropping newer security updates)"
    rm -f "$log"
    return 1
  fi
  apt_say "apt cannot resolve the install of $* ($reason); trying once more with the release suite $codename as target (KKM_APT_RELEASE_TARGET=1: installed packages move to its versions)"
  rc=0
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends -t "$codename" "$@" > "$log" 2>&1 || rc=$?
  if [[ $rc != 0 ]]; then
    reason=$(apt_unresolved "$log" -t "$codename" "$@")
    apt_say "apt-get install -t $codename $* failed too: ${reason:-$(grep -m 1 '^E:' "$log" || tail -n 1 "$log")}"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
  return 0
}
