# shellcheck shell=bash disable=SC2034  # its variables are the sourcing script's
# Shared by the scripts that fetch from Debian's archive through an apt
# configuration of their own (sourced, not run). The machine's apt sources
# are only read, for the archive's address and key; the lists, the cache and
# the sources list used live in a folder of the caller's.

# archive_entries: one "URI SUITE KEY" line (KEY "-" when the entry names no
# signed-by key file) for every "deb" entry with the main component in the
# machine's apt sources, in either the one-line or the deb822 format.
archive_entries() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f "$f" ]] || continue
    awk '
      $1 != "deb" { next }
      {
        key = "-"; i = 2
        if ($2 ~ /^\[/) {
          opts = ""
          for (; i <= NF; i++) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } }
          if (match(opts, /signed-by=[^] ]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
        }
        uri = $i; suite = $(i + 1)
        for (j = i + 2; j <= NF; j++) if ($j == "main") print uri " " suite " " key
      }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f "$f" ]] || continue
    awk '
      function flush(   n, u, s, us, ss, a, b, hasMain, k) {
        if (types ~ /(^| )deb( |$)/ && enabled != "no") {
          n = split(comps, k, " "); hasMain = 0
          for (a = 1; a <= n; a++) if (k[a] == "main") hasMain = 1
          if (hasMain) {
            us = split(uris, u, " "); ss = split(suites, s, " ")
            for (a = 1; a <= us; a++) for (b = 1; b <= ss; b++)
              print u[a] " " s[b] " " (key ~ /^\// ? key : "-")
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

# debian_codename: the release's code name (bookworm), or fails.
debian_codename() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [[ -z "$codename" ]]; then
    echo "no VERSION_CODENAME in /etc/os-release" >&2
    return 1
  fi
  echo "$codename"
}

# private_apt DIR: sets the array apt_opts to an apt configuration whose
# sources list is DIR/sources.list.d/*.list and whose lists and cache are
# under DIR (made here).
private_apt() {
  local dir=$1
  mkdir -p "$dir/sources.list.d" "$dir/lists/partial" "$dir/cache/archives/partial"
  apt_opts=(
    -o Dir::Etc::SourceList=/dev/null
    -o Dir::Etc::SourceParts="$dir/sources.list.d"
    -o Dir::State::Lists="$dir/lists"
    -o Dir::Cache="$dir/cache"
    -o APT::Sandbox::User=root
  )
}
