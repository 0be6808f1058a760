#!/usr/bin/env bash
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

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [[ -z "$codename" ]]; then
  echo "fetch-sources: no VERSION_CODENAME in /etc/os-release" >&2
  exit 1
fi

# One "deb-src [signed-by=KEY] URI SUITE main" line for every Debian archive
# entry (suites CODENAME, CODENAME-updates, CODENAME-security) found in the
# system's sources, in either the one-line or the deb822 format.
source_lines() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f "$f" ]] || continue
    awk -v cn="$codename" '
      $1 != "deb" { next }
      {
        key = ""; i = 2
        if ($2 ~ /^\[/) {
          opts = ""
          for (; i <= NF; i++) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } }
          if (match(opts, /signed-by=[^] ]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
        }
        uri = $i; suite = $(i + 1)
        if (suite != cn && suite != cn "-updates" && suite != cn "-security") next
        for (j = i + 2; j <= NF; j++) if ($j == "main") {
          print "deb-src" (key != "" ? " [signed-by=" key "]" : "") " " uri " " suite " main"
        }
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f "$f" ]] || continue
    awk -v cn="$codename" '
      function flush(   n, u, s, us, ss, a, b, hasMain, k) {
        if (types ~ /(^| )deb( |$)/ && enabled != "no") {
          n = split(comps, k, " "); hasMain = 0
          for (a = 1; a <= n; a++) if (k[a] == "main") hasMain = 1
          if (hasMain) {
            us = split(uris, u, " "); ss = split(suites, s, " ")
            for (a = 1; a <= us; a++) for (b = 1; b <= ss; b++)
              if (s[b] == cn || s[b] == cn "-updates" || s[b] == cn "-security")
                print "deb-src" (key ~ /^\// ? " [signed-by=" key "]" : "") " " u[a] " " s[b] " main"
          }
        }
        types = uris = suites = comps = key = enabled = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[A-Za-z-]+:/ {
        field = tolower(substr($0, 1, index($0, ":") - 1))
        value = substr($0, index($0, ":") + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
        if (field == "types") types = value
        else if (field == "uris") uris = value
        else if (field == "suites") suites = value
        else if (field == "components") comps = value
        else if (field == "signed-by") key = value
        else if (field == "enabled") enabled = tolower(value)
      }
      END { flush() }' "$f"
  done
}

mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$src_dir"
source_lines | sort -u > "$apt_dir/sources.list.d/windows-deps.list"
if [[ ! -s "$apt_dir/sources.list.d/windows-deps.list" ]]; then
  echo "fetch-sources: no Debian archive for '$codename' in the system's apt sources" >&2
  exit 1
fi

apt_opts=(
  -o Dir::Etc::SourceList=/dev/null
  -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
  -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir/cache"
  -o APT::Sandbox::User=root
)
apt-get "${apt_opts[@]}" update -qq
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
