#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# Fetches the Debian source packages of the Windows build's dependencies
# (tinyxml2, curl, googletest) into SOURCES_DIR, unpacked with Debian's
# patches applied, and lists the unpacked trees in SOURCES_DIR/.fetched. The
# deb-src list and the package lists are private to SOURCES_DIR/apt: the
# archive address is taken from the machine's own apt sources, whose files
# are left alone. Nothing is fetched when the trees are already there.
#
# usage: fetch-sources.sh SOURCES_DIR
set -euo pipefail

src_dir=$(mkdir -p "$1" && cd "$1" && pwd)
apt_dir="$src_dir/apt"
packages=(tinyxml2 curl googletest)

# Already fetched: one unpacked tree per package, recorded in the stamp.
if [[ -f "$src_dir/.fetched" ]]; then
  ok=1
  for p in "${packages[@]}"; do
    tree=$(sed -n "s/^$p=//p" "$src_dir/.fetched")
    [[ -n "$tree" && -d "$src_dir/$tree" ]] || ok=0
  done
  [[ $ok == 1 ]] && exit 0
fi

. "$(dirname "$0")/apt-private.sh"
. "$(dirname "$0")/../mk/apt-steps.sh"
codename=$(debian_codename) || exit 1

# One "deb-src [signed-by=KEY] URI SUITE main" line for every Debian archive
# entry of the suites CODENAME, CODENAME-updates and CODENAME-security.
private_apt "$apt_dir"
archive_entries | while read -r uri suite key; do
  case "$suite" in
    "$codename" | "$codename-updates" | "$codename-security") ;;
    *) continue ;;
  esac
  signed=""
  [[ $key != - ]] && signed=" [signed-by=$key]"
  echo "deb-src$signed $uri $suite main"
done | sort -u > "$apt_dir/sources.list.d/windows-deps.list"
if [[ ! -s "$apt_dir/sources.list.d/windows-deps.list" ]]; then
  echo "fetch-sources: no Debian archive for '$codename' in the system's apt sources" >&2
  exit 1
fi

apt_update_lists "${apt_opts[@]}"
find "$src_dir" -mindepth 1 -maxdepth 1 ! -name apt -exec rm -rf {} +
(cd "$src_dir" && apt-get "${apt_opts[@]}" source -qq --only-source "${packages[@]}")

# Record each package's unpacked tree (NAME-VERSION, the only folder
# starting with the name).
: > "$src_dir/.fetched.new"
for p in "${packages[@]}"; do
  tree=$(cd "$src_dir" && find . -mindepth 1 -maxdepth 1 -type d -name "$p-[0-9]*" -printf '%f\n' | sort | tail -n 1)
  if [[ -z "$tree" ]]; then
    echo "fetch-sources: $p was not unpacked" >&2
    exit 1
  fi
  echo "$p=$tree" >> "$src_dir/.fetched.new"
done
mv "$src_dir/.fetched.new" "$src_dir/.fetched"
cat "$src_dir/.fetched"
