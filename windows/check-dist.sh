#!/usr/bin/env bash
# Checks a Windows release zip: exactly the files a shop needs, an exe of the
# right kind, an example configuration with every attribute the README
# names, a task file with the settings the README recommends, and a licence
# notice for every library linked into the exe.
#
# usage: check-dist.sh ZIP
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
zip=$1
fail() {
  echo "check-dist: $zip: $*" >&2
  exit 1
}

name=$(basename "$zip" .zip)
want=(kkmbridge.exe config.example.xml install-tasks.cmd kkmbridge-task.xml admin-ru.md
  licences/curl.txt licences/tinyxml2.txt licences/mingw-w64.txt licences/gcc-runtime.txt)
grep -rqs "nlohmann/json" "$root/src" && want+=(licences/nlohmann-json.txt)
expected=$(printf "$name/%s\n" "${want[@]}" | sort)
listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
[[ "$listed" == "$expected" ]] || fail "holds
$listed
instead of
$expected"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
unzip -q "$zip" -d "$dir"
top="$dir/$name"

kind=$(file -b "$top/kkmbridge.exe")
[[ "$kind" == "PE32 executable (console) Intel 80386"* ]] || fail "kkmbridge.exe is '$kind'"
for f in install-tasks.cmd config.example.xml kkmbridge-task.xml; do
  grep -q $'\r$' "$top/$f" || fail "$f does not have Windows line ends"
done

# Every attribute the README's configuration tables list is in the example.
docs=("$root/README.md")
[[ -d "$root/docs" ]] && while IFS= read -r f; do docs+=("$f"); done < <(find "$root/docs" -name '*.md' ! -path '*/ru/*')
attributes=$(sed -n 's/^| `\([A-Za-z]*\)`\(, `\([A-Za-z]*\)`\)\{0,1\} |.*/\1 \3/p' "$root/README.md" | tr ' ' '\n' | grep -v '^$' |
  grep -v -e '^pending' | sort -u)
[[ -n "$attributes" ]] || fail "no configuration attributes found in README.md"
xmllint --noout "$top/config.example.xml" || fail "config.example.xml is not well-formed"
for a in $attributes; do
  [[ -n "$(xmllint --xpath "//*[@$a]" "$top/config.example.xml" 2> /dev/null)" ]] ||
    fail "config.example.xml has no $a attribute, which README.md describes"
done

# The task file against the README's recommendation: each setting's value,
# and the README's words for it.
task="$top/kkmbridge-task.xml"
xmllint --noout "$task" || fail "kkmbridge-task.xml is not well-formed"
value() {
  xmllint --xpath "string(//*[local-name()='$1'])" "$task"
}
# The docs' words with line breaks and runs of blanks made single blanks.
words=$(cat "${docs[@]}" | tr '\n' ' ' | tr -s ' ')
said() {
  [[ "$words" == *"$1"* ]] || fail "the docs do not say '$1', which the task file does"
}
[[ $(value Interval) == PT15M ]] || fail "the task repeats every $(value Interval), not every 15 minutes"
said "every 15 minutes"
[[ $(value MultipleInstancesPolicy) == IgnoreNew ]] || fail "the task's instance policy is $(value MultipleInstancesPolicy), not IgnoreNew"
said "Do not start a new instance"
[[ $(value ExecutionTimeLimit) == PT1H ]] || fail "the task stops after $(value ExecutionTimeLimit), not one hour"
said "runs longer than\": 1 hour"
[[ $(value WorkingDirectory) == @FOLDER@ ]] || fail "the task starts in $(value WorkingDirectory), not the program's folder"
said "\"Start in\""
[[ $(value Command) == '"@FOLDER@\kkmbridge.exe"' ]] || fail "the task runs $(value Command)"
[[ $(value Arguments) == '@MODE@ "@CONFIG@" "@EXCHANGE@"' ]] || fail "the task's arguments are $(value Arguments)"
[[ $(value LogonType) == Password ]] || fail "the task's logon type is $(value LogonType), not Password (runs whether or not the user is logged on)"
grep -q -F '@ACCOUNT@' "$task" || fail "the task's account is not asked for"

for f in "$top"/licences/*.txt; do
  [[ $(wc -c < "$f") -gt 200 ]] || fail "${f#"$top"/} is too short to be a licence notice"
done
grep -q -i "curl" "$top/licences/curl.txt" || fail "licences/curl.txt is not curl's"
grep -q "Upstream-Name: tinyxml2" "$top/licences/tinyxml2.txt" || fail "licences/tinyxml2.txt is not tinyxml2's"
grep -q "winpthreads" "$top/licences/mingw-w64.txt" || fail "licences/mingw-w64.txt does not cover winpthreads"
grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$top/licences/gcc-runtime.txt" || fail "licences/gcc-runtime.txt lacks the runtime exception"

echo "check-dist: $zip: ${#want[@]} files, the task file as the README recommends"
