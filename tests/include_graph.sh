#!/usr/bin/env bash
# Checks the include graph of src/: every #include points to a unit of the
# same room or of a room below it (app -> report -> cloud -> config -> files
# -> text -> platform), and no units include each other in a circle.
# Prints every offending include and exits 1; prints the unit count and
# exits 0 when the graph is clean.
#
# usage: tests/include_graph.sh [SRC_DIR]
set -euo pipefail
src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}

rank() {
  case $1 in
    platform) echo 0 ;; text) echo 1 ;; files) echo 2 ;; config) echo 3 ;;
    cloud) echo 4 ;; report) echo 5 ;; app) echo 6 ;; *) echo -1 ;;
  esac
}

status=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
units=0
while IFS= read -r file; do
  rel=${file#"$src"/}
  room=${rel%%/*}
  unit=${rel%.*}
  units=$((units + 1))
  from=$(rank "$room")
  if [[ $from -lt 0 ]]; then
    echo "$rel: room '$room' is not one of the program's rooms"
    status=1
  fi
  while IFS= read -r target; do
    [[ -f $src/$target ]] || continue  # a system or library header
    to_room=${target%%/*}
    to_unit=${target%.*}
    if [[ $(rank "$to_room") -gt $from ]]; then
      echo "$rel includes $target: $to_room stands above $room"
      status=1
    fi
    [[ $to_unit == "$unit" ]] || echo "$unit $to_unit" >> "$edges"
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "$src" -name '*.h' -o -name '*.cpp' | sort)

if ! loops=$(sort -u "$edges" | tsort 2>&1 >/dev/null) || [[ -n $loops ]]; then
  echo "units that include each other in a circle:"
  echo "$loops" | sed 's/^tsort: //'
  status=1
fi
[[ $status == 0 ]] && echo "include graph: $(sort -u "$edges" | wc -l) includes between the units of $units files, none upward, no circle"
exit $status
