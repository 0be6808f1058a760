#!/usr/bin/env bash
# The end-to-end scenarios with the Windows kkmbridge.exe under Wine and with
# the Linux build, each side against its own cloud-sim on loopback with the
# same data. Everything each side leaves behind must be the same byte for
# byte, apart from time stamps, the port and the side's own folder name: the
# exchange files, the configuration, the requests the service got, the goods
# it stored, the console output, the run log, and in debug mode the log and
# dump files (which on Windows must end every line with CR LF, as must its
# console and its run log). Where both sides could be wrong in the same way,
# a scenario adds checks of its own on each side (`must`).
#
# Wine runs as a Russian Windows, as the shops have it: the Windows locale
# ru-RU, ANSI code page 1251 (from a ru_RU.UTF-8 locale of the C library,
# compiled once into build-windows/locale/).
#
# usage: windows/e2e.sh ARCH [SCENARIO...]   (after `make build` and
#        windows/build.sh ARCH, with the Wine prefix made by test.sh; all
#        scenarios when none is named)
set -euo pipefail
# Bytes, not characters: the files hold code page 1251 and UTF-8 side by side.
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
arch=${1:?usage: e2e.sh ARCH [SCENARIO...]}
shift
linux_program="$root/build/kkmbridge"
sim="$root/build/cloud-sim"
exe="$root/build-windows/$arch/kkmbridge.exe"
holder_exe="$root/build-windows/$arch/tests/kkm_hold_file.exe"
prefix="$root/build-windows/wine-$arch"
out="$root/build-windows/e2e-$arch"
locales="$root/build-windows/locale"

for f in "$linux_program" "$sim" "$exe" "$holder_exe"; do
  [[ -x "$f" ]] || { echo "e2e: $f is missing (make build; make windows)" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out/inputs"

# Wine takes its Windows locale, and with it the ANSI code page its programs
# get their command line in, from the C library's locale; without a Russian
# one it is en-US with code page 1252, which has no Cyrillic letter at all.
if [[ ! -f "$locales/ru_RU.UTF-8/LC_CTYPE" ]]; then
  rm -rf "$locales"
  mkdir -p "$locales"
  localedef -i ru_RU -f UTF-8 "$locales/ru_RU.UTF-8" > "$locales/localedef.log" 2>&1 ||
    [[ -f "$locales/ru_RU.UTF-8/LC_CTYPE" ]] || {
    cat "$locales/localedef.log" >&2
    echo "e2e: cannot compile the ru_RU.UTF-8 locale into $locales (package locales)" >&2
    exit 1
  }
fi
# windows_env COMMAND...: a Wine command of the Windows side.
windows_env() {
  LOCPATH="$locales" LC_ALL=ru_RU.UTF-8 "$@"
}

# --- Shared inputs: generated service data, certificates for HTTPS --------

"$sim" generate --out "$out/inputs/generated.json" --shifts 4 --checks 12 --goods 4 --cash 2 --open-shift \
  --seed 7 --login gen --password 'p&ss "word"' --kkm 0000000000077777 > /dev/null
# A certificate for localhost (and one from somebody else) to trust through caFile.
for name in service stranger; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 7 -subj "/CN=localhost" \
    -addext "subjectAltName=DNS:localhost" -keyout "$out/inputs/$name-key.pem" \
    -out "$out/inputs/$name-cert.pem" 2> /dev/null
done

# --- One side's run ---------------------------------------------------------

side=""        # linux or windows
work=""        # the folder the program runs in (its logs land there)
sim_pid=""
sim_dir=.sim   # the service's folder in the work folder
port=""
param_extra="" # more attributes of config/basicparams/param
linux_wrap=()  # what the Linux program is started through
holder_pid=""  # the other program holding a file (hold)
holder_process=""  # its process id as the program sees it
holder_release=""
# The slowest run of the program so far on each side, in milliseconds.
declare -A slowest_ms=([linux]=0 [windows]=0)

# An exchange folder with a space and Cyrillic letters, and one with letters
# that code page 1251 has not (Latin ü, Kazakh Қ and қ). The program reads
# its command line as UTF-16 on Windows and speaks UTF-8 inside, as on Linux.
cyrillic_dir='Обмен 1С'
cyrillic_dir_1251=$(printf '%s' "$cyrillic_dir" | iconv -f UTF-8 -t CP1251)
unicode_dir='Müller/Қазақ 1С'
# An exchange folder whose path is longer than 300 characters.
long_dir=""
for letter in a b c d e; do
  long_dir+="$(printf "$letter%.0s" $(seq 60))/"
done
long_dir=${long_dir%/}

# The side's name for a file of its work folder, as the program is given it:
# a full path, in Windows form on Windows. The bytes are UTF-8 either way:
# Wine turns its command line into the ANSI code page of the program.
path_of() {
  if [[ $side == windows ]]; then
    printf 'Z:%s\\%s' "${work//\//\\}" "${1//\//\\}"
  else
    printf '%s/%s' "$work" "$1"
  fi
}

# serve [cloud-sim options...]: starts the service for this run, in sim_dir.
serve() {
  local dir="$work/$sim_dir"
  mkdir -p "$dir"
  "$sim" serve --port 0 --state "$dir/service" --log-dir "$dir/requests" "$@" \
    > "$dir/out" 2> "$dir/err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q 'listening on' "$dir/out" 2> /dev/null && break
    sleep 0.1
  done
  port=$(sed -n 's/^cloud-sim listening on .*:\([0-9]*\)$/\1/p' "$dir/out")
  [[ -n "$port" ]] || { echo "e2e: cloud-sim did not start: $(cat "$dir/err")" >&2; exit 1; }
}

stop_service() {
  if [[ -n "$sim_pid" ]]; then
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    sim_pid=""
  fi
}

# hold FILE: another program holds FILE open until release: on Windows
# kkm_hold_file.exe (reading and writing shared, deletion not), on Linux a
# shell with the file open. Sets holder_process to its process id.
hold() {
  holder_release="$work/.own/release"
  rm -f "$holder_release"
  mkdir -p "$work/.own"
  if [[ $side == windows ]]; then
    windows_env "$here/wine-run.sh" "$prefix" "$holder_exe" "$(path_of "$1")" "$(path_of .own/release)" \
      > "$work/.own/holder.out" 2> "$work/.own/holder.err" < /dev/null &
  else
    bash -c 'exec 3< "$1" && echo "holding $$" && while [ ! -e "$2" ]; do sleep 0.02; done' \
      hold "$work/$1" "$holder_release" > "$work/.own/holder.out" 2> "$work/.own/holder.err" < /dev/null &
  fi
  holder_pid=$!
  for _ in $(seq 600); do
    grep -q '^holding' "$work/.own/holder.out" 2> /dev/null && break
    kill -0 "$holder_pid" 2> /dev/null || break
    sleep 0.05
  done
  holder_process=$(sed -n 's/^holding \([0-9]*\).*/\1/p' "$work/.own/holder.out")
  [[ -n "$holder_process" ]] || { echo "e2e: the program holding $1 did not start: $(cat "$work/.own/holder.err")" >&2; exit 1; }
}

release() {
  if [[ -n "$holder_pid" ]]; then
    touch "$holder_release"
    wait "$holder_pid" 2> /dev/null || true
    holder_pid=""
  fi
}

stop_all() {
  release
  stop_service
}
trap stop_all EXIT

# config LOGIN PASSWORD SCHEME://HOST DEBUG KKM [CA_FILE]: the configuration
# file (with param_extra on its param element).
config() {
  local ca=""
  [[ -n "${6:-}" ]] && ca=" caFile=\"$(path_of "$6")\""
  local password
  password=$(printf '%s' "$2" | sed -e 's/&/\&amp;/g' -e 's/"/\&quot;/g')
  cat > "$work/config.xml" << XML
<?xml version="1.0" encoding="UTF-8"?>
<config>
	<basicparams>
		<param login="$1" password="$password" basicURL="$3:$port/api/" debugmode="$4"$ca$param_extra/>
	</basicparams>
	<!-- the import rewrites lastDocDT and keeps this comment -->
	<importparams>
		<import lastDocDT="0" kkmNum="$5"/>
	</importparams>
</config>
XML
}

now_ms() {
  echo $(($(date +%s%N) / 1000000))
}

# run_in DIR N MODE EXCHANGE_FILE: one run of the program, as the scheduler
# starts it, leaving in DIR its output (N.out, N.err), the exchange file and
# the configuration as it left them (N.exchange, N.config), and last its exit
# code (N.code).
run_in() {
  local dir="$work/$1" n=$2 code=0 started
  mkdir -p "$dir"
  started=$(now_ms)
  if [[ $side == windows ]]; then
    (cd "$work" && windows_env "$here/wine-run.sh" "$prefix" "$exe" "$3" "$(path_of config.xml)" "$(path_of "$4")") \
      > "$dir/$n.out" 2> "$dir/$n.err" < /dev/null || code=$?
  else
    (cd "$work" && "${linux_wrap[@]}" "$linux_program" "$3" "$(path_of config.xml)" "$(path_of "$4")") \
      > "$dir/$n.out" 2> "$dir/$n.err" < /dev/null || code=$?
  fi
  echo $(($(now_ms) - started)) > "$dir/$n.ms"
  [[ -f "$work/$4" ]] && cp "$work/$4" "$dir/$n.exchange"
  cp "$work/config.xml" "$dir/$n.config"
  echo "$code" > "$dir/$n.code"
}

# The time a run took, towards the slowest of its side.
took() {
  local ms
  ms=$(cat "$1")
  ((ms > slowest_ms[$side])) && slowest_ms[$side]=$ms
  rm -f "$1"
}

steps=0
# step MODE EXCHANGE_FILE: one run of the program, compared with the other side's.
step() {
  steps=$((steps + 1))
  run_in .steps "$steps" "$1" "$2"
  took "$work/.steps/$steps.ms"
}

# step_start MODE EXCHANGE_FILE: a step started in the background (its
# number in started_step); step_wait waits for it.
started_step=""
started_pid=""
step_start() {
  steps=$((steps + 1))
  started_step=$steps
  run_in .steps "$steps" "$1" "$2" &
  started_pid=$!
}
step_wait() {
  wait "$started_pid"
  took "$work/.steps/$started_step.ms"
}

# own_step N MODE EXCHANGE_FILE: a run of this side's own, not compared (its
# files in .own/N.*); the scenario checks it with must.
own_step() {
  run_in .own "$@"
  took "$work/.own/$1.ms"
}

# expect CODE...: the exit codes the scenario's compared runs must end with.
expect() {
  echo "$*" > "$work/.steps/expected"
}

# must WHAT COMMAND...: a check of this side's own; when COMMAND fails, the
# scenario fails, saying WHAT was expected.
must() {
  local what=$1
  shift
  "$@" || echo "$side: $what" >> "$work/.own/problems"
}

# Tests for must.
has_text() { grep -a -q -F -e "$2" "$1"; }
lacks_text() { ! grep -a -q -F -e "$2" "$1"; }
same_bytes() { cmp -s "$1" "$2"; }
no_file() { [[ ! -e "$1" ]]; }
line_count_is() { [[ $(tr -cd '\n' < "$1" | wc -c) == "$2" ]]; }
no_temporaries() { [[ -z "$(find "$work" -path "$work/.*" -prune -o -name '*.tmp' -print)" ]]; }
request_count() { find "$work/$sim_dir/requests" -name '*.req' 2> /dev/null | wc -l; }

# make_read_only FILE: the Windows read-only attribute (attrib +r), the write
# permissions taken away on Linux. Root may write any file on Linux: the
# program then runs without the capabilities that allow it, so that it meets
# the permissions as any other user.
make_read_only() {
  if [[ $side == windows ]]; then
    windows_env "$here/wine-run.sh" "$prefix" "$prefix/drive_c/windows/system32/attrib.exe" +r "$(path_of "$1")" > /dev/null 2>&1
  else
    chmod a-w "$work/$1"
    [[ $(id -u) == 0 ]] && linux_wrap=(setpriv "--bounding-set=-dac_override,-dac_read_search,-fowner" --)
  fi
  return 0
}
make_writable() {
  if [[ $side == windows ]]; then
    windows_env "$here/wine-run.sh" "$prefix" "$prefix/drive_c/windows/system32/attrib.exe" -r "$(path_of "$1")" > /dev/null 2>&1
  else
    chmod u+w "$work/$1"
    linux_wrap=()
  fi
  return 0
}

# 1C has loaded the ImportData file and left its stub.
loaded_stub() {
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<ImportData xmlns="http://www.1c.ru/EquipmentService/3.0.0.0" FormatVersion="3000" Processed="2024-11-19T08:00:00"/>\n' \
    > "$work/ImportData.xml"
}

# --- The scenarios ------------------------------------------------------------

scenario_export() {
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  cp "$root/demo/ExportData.xml" "$work/ExportData.xml"
  step export ExportData.xml
  expect 0
}

scenario_export_debug() {
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 1 0001234567890123
  cp "$root/demo/ExportData.xml" "$work/ExportData.xml"
  step export ExportData.xml
  expect 0
}

# New shifts; again before 1C has loaded the file; after it has.
scenario_import_demo() {
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  step import ImportData.xml
  step import ImportData.xml
  loaded_stub
  step import ImportData.xml
  expect 0 0 0
}

scenario_import_generated_debug() {
  serve --data "$out/inputs/generated.json"
  config gen 'p&ss "word"' http://127.0.0.1 1 0000000000077777
  step import ImportData.xml
  expect 0
}

scenario_import_https() {
  serve --data "$out/inputs/generated.json" --cert "$out/inputs/service-cert.pem" --key "$out/inputs/service-key.pem"
  cp "$out/inputs/service-cert.pem" "$work/ca.pem"
  config gen 'p&ss "word"' https://localhost 0 0000000000077777 ca.pem
  step import ImportData.xml
  expect 0
}

# A certificate that caFile does not vouch for: the run fails, nothing changes.
scenario_import_https_untrusted() {
  serve --data "$out/inputs/generated.json" --cert "$out/inputs/service-cert.pem" --key "$out/inputs/service-key.pem"
  cp "$out/inputs/stranger-cert.pem" "$work/ca.pem"
  config gen 'p&ss "word"' https://localhost 0 0000000000077777 ca.pem
  step import ImportData.xml
  expect 253
}

# check, as an admin runs it: a good set-up, then a wrong password; the
# diagnosis changes nothing, so the files are compared as after any step.
scenario_check() {
  serve --data "$root/demo/cloud-data.json"
  cp "$root/demo/ExportData.xml" "$work/ExportData.xml"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  step check ImportData.xml
  must "the good set-up has no FAILED line" lacks_text "$work/.steps/1.out" "FAILED   "
  config demo wrong-pass http://127.0.0.1 0 0001234567890123
  step check ImportData.xml
  must "the wrong password fails the login" has_text "$work/.steps/2.out" "FAILED   service login: "
  must "the check writes no ImportData file" no_file "$work/ImportData.xml"
  expect 0 253
}

# The service fails the document query, then cuts an answer short.
scenario_import_service_faults() {
  serve --data "$root/demo/cloud-data.json" --fault 2:status=500 --fault 4:close=10
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  step import ImportData.xml
  step import ImportData.xml
  step import ImportData.xml
  expect 253 253 0
}

# Two overlapping runs on one exchange file. The first is slowed down at its
# first document query; the second, started while the first waits for that
# answer, finds the lock held (LockFileEx between two Wine processes, flock
# on Linux), says so in one line, asks nothing, changes nothing and exits 0;
# the first then finishes as usual. Its run log has the second run's line
# ("skipped: another run") before the first's.
scenario_lock_overlap() {
  # The delay outlasts the slowest run of this side so far three times over
  # (and a second more).
  local delay=$((1000 + 3 * slowest_ms[$side]))
  serve --data "$root/demo/cloud-data.json" --fault "2:delay=$delay"
  param_extra=" runLog=\"$(path_of run.log)\""
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  step_start import ImportData.xml
  for _ in $(seq 1200); do
    [[ -e "$work/.sim/requests/2.req" || -e "$work/.steps/1.code" ]] && break
    sleep 0.05
  done
  local before
  before=$(request_count)
  step import ImportData.xml
  must "the first run to be still under way when the second ended (it was not: a longer delay than $delay ms?)" \
    test ! -e "$work/.steps/1.code"
  must "the second run to find the lock held" has_text "$work/.steps/2.out" \
    " import: another run holds $(path_of '~kkmbridge-ImportData.xml.lock') (process "
  must "the second run to ask the service nothing" test "$(request_count)" == "$before"
  step_wait
  must "the first run to write the exchange file" test -f "$work/ImportData.xml"
  must "the run log to hold one line per run, the second run's first" \
    test "$(awk -F ' [|] ' '{print $3}' "$work/run.log" | xargs -d '\n' echo)" == "skipped: another run ok"
  expect 0 0
}

# A read-only configuration (the read-only attribute on Windows, no write
# permission on Linux) cannot take the new lastDocDT: the import fails with
# -3, its line says so, and no file changes (the next run asks for the same
# shifts). Made writable again, the next run imports them.
scenario_config_read_only() {
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  cp "$work/config.xml" "$work/.own/config.before"
  make_read_only config.xml
  step import ImportData.xml
  must "the failure line to say that the configuration is read-only" has_text "$work/.steps/1.err" \
    "cannot write configuration file $(path_of config.xml): the file is read-only"
  must "the configuration to stay as it was" same_bytes "$work/config.xml" "$work/.own/config.before"
  must "no exchange file" test ! -e "$work/ImportData.xml"
  must "no temporary file left behind" no_temporaries
  make_writable config.xml
  step import ImportData.xml
  expect 253 0
}

# A configuration that another program holds open, sharing no deletion (as
# editors, backup programs and virus scanners do on Windows), cannot be
# replaced there: MoveFileExA refuses, the import fails with -3, its line
# names the configuration and Windows' refusal, and nothing changes; once the
# file is let go, the next run imports. On Linux a file open elsewhere can be
# replaced all the same (rename does not care), so there the import succeeds
# while the file is held. The comparison follows the platforms: Windows'
# refused run is checked on that side alone (own_step, against a service of
# its own), and its run after the release is compared with Linux's run made
# while the file was held.
scenario_config_locked() {
  if [[ $side == windows ]]; then
    sim_dir=.own/sim
    serve --data "$root/demo/cloud-data.json"
    config demo demo-pass http://127.0.0.1 0 0001234567890123
    cp "$work/config.xml" "$work/.own/config.before"
    hold config.xml
    own_step 1 import ImportData.xml
    release
    stop_service
    sim_dir=.sim
    must "the import to fail with -3 while another program holds the configuration" \
      test "$(cat "$work/.own/1.code")" == 253
    must "the failure line to name the configuration and Windows' refusal" has_text "$work/.own/1.err" \
      "kkmbridge: cannot write configuration file $(path_of config.xml): cannot replace the file: "
    must "the refusal in Windows' own words, with its number" \
      grep -a -q -E ': cannot replace the file: [^(]+ \(Windows error [0-9]+\)' "$work/.own/1.err"
    must "the configuration to stay as it was" same_bytes "$work/config.xml" "$work/.own/config.before"
    must "no exchange file" test ! -e "$work/ImportData.xml"
    must "no temporary file left behind" no_temporaries
  fi
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  [[ $side == linux ]] && hold config.xml
  step import ImportData.xml
  release
  expect 0
}

# Temporary files: one of ours left by a run that has ended (no process of
# its id runs) is removed by the next run on the same target, beside the
# exchange file and beside the configuration; one of a program still running
# (the holder's process id), and files under any other name, are left alone.
scenario_stale_temporaries() {
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  echo running > "$work/.own/anything"
  hold .own/anything
  local running="~config.xml.$holder_process.00112233445566ff.tmp"
  local ended=("~ImportData.xml.999999999.0123456789abcdef.tmp" "~config.xml.999999999.fedcba9876543210.tmp")
  local others=("~ImportData.xml.tmp" "~ImportData.xml.999999999.0123456789ABCDEF.tmp"
    "~ImportData.xml.999999999.0123456789abcdef.tmp.old" "~ImportData.xml.x99999999.0123456789abcdef.tmp"
    "~ExportData.xml.999999999.0123456789abcdef.tmp" "ImportData.xml.999999999.0123456789abcdef.tmp")
  local f
  for f in "${ended[@]}" "${others[@]}" "$running"; do
    echo planted > "$work/$f"
  done
  step import ImportData.xml
  for f in "${ended[@]}"; do
    must "$f (of a run that has ended) to be removed" test ! -e "$work/$f"
  done
  for f in "${others[@]}"; do
    must "$f (no temporary file of this run's targets) to be left alone" test -f "$work/$f"
  done
  must "$running (of a program still running) to be left alone" test -f "$work/$running"
  release
  rm -f "$work/$running"  # its name differs between the sides
  expect 0
}

# exchange_folder_runs DIR: an import and an export, in debug mode (the log
# files carry the paths too), with the exchange files in DIR (made here).
# The shell and the file system spell it in UTF-8; Wine gives the exe its
# UTF-16 command line, the program turns it into UTF-8 for its console and
# logs and back into UTF-16 for the wide file calls, and Wine maps that to
# the same UTF-8 name on disk.
exchange_folder_runs() {
  local dir=$1
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 1 0001234567890123
  mkdir -p "$work/$dir"
  cp "$root/demo/ExportData.xml" "$work/$dir/ExportData.xml"
  step import "$dir/ImportData.xml"
  step export "$dir/ExportData.xml"
  must "the exchange file and its lock file in the folder" \
    test -f "$work/$dir/ImportData.xml" -a -f "$work/$dir/~kkmbridge-ImportData.xml.lock"
  must "the goods file stamped" has_text "$work/$dir/ExportData.xml" 'Processed="'
  expect 0 0
}

# A folder with a space and Cyrillic letters: the console shows its name in
# UTF-8 on both sides, never in code page 1251 (as the ANSI calls once did).
scenario_cyrillic_folder() {
  exchange_folder_runs "$cyrillic_dir"
  must "the console to show the folder in UTF-8" has_text "$work/.steps/1.out" "$cyrillic_dir"
  must "the console to show the folder in no other bytes" lacks_text "$work/.steps/1.out" "$cyrillic_dir_1251"
}

# A folder whose letters no ANSI code page of a Russian Windows can spell:
# through the ANSI calls Müller arrived as Muller (another, existing folder)
# and the Kazakh letters as '?' (error 123).
scenario_unicode_folder() {
  mkdir -p "$work/Muller/Қазақ 1С"
  exchange_folder_runs "$unicode_dir"
  local spelled=$unicode_dir
  [[ $side == windows ]] && spelled=${unicode_dir//\//\\}
  must "the console to show the folder as it is spelled" has_text "$work/.steps/1.out" "$spelled"
  must "nothing written into the folder of a lookalike name" test -z "$(ls -A "$work/Muller/Қазақ 1С")"
}

# An exchange path of more than 300 characters (the temporary file's name is
# longer still): the platform layer gives every path its long form.
scenario_long_path() {
  exchange_folder_runs "$long_dir"
  must "the exchange path to be longer than 300 characters" test "$(path_of "$long_dir/ImportData.xml" | wc -c)" -gt 300
}

# --version and --help: on standard output, exit 0, nothing read.
scenario_version() {
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  step --version ImportData.xml
  step --help ImportData.xml
  must "nothing asked of the service" test "$(request_count)" == 0
  must "--version to print the program's name and version" \
    grep -a -q -E $'^kkmbridge [0-9]+\\.[0-9]+\\.[0-9]+\r?$' "$work/.steps/1.out"
  must "--help to print the usage" has_text "$work/.steps/2.out" "Need to use 3 parameters"
  must "nothing on standard error" test ! -s "$work/.steps/1.err" -a ! -s "$work/.steps/2.err"
  expect 0 0
}

# A configuration saved as UTF-8 (what its declaration says, and what
# Notepad writes) with Cyrillic paths in runLog and caFile: the run log is
# written there and the certificate read from there. On Windows a runLog
# written in code page 1251 (no UTF-8) is still read, in the ANSI code page,
# with a warning that names the attribute (checked on that side alone,
# against a service of its own).
scenario_utf8_config() {
  mkdir -p "$work/журнал" "$work/сертификаты"
  if [[ $side == windows ]]; then
    sim_dir=.own/sim
    serve --data "$root/demo/cloud-data.json"
    param_extra=" runLog=\"$(path_of журнал/run-1251.log | iconv -f UTF-8 -t CP1251)\""
    config demo demo-pass http://127.0.0.1 0 0001234567890123
    own_step 1 import .own/ImportData.xml
    stop_service
    sim_dir=.sim
    must "the import with a windows-1251 runLog to succeed" test "$(cat "$work/.own/1.code")" == 0
    must "a warning that names runLog and the code page it was read in" has_text "$work/.own/1.err" \
      "kkmbridge: warning: the runLog attribute in $(path_of config.xml) is not UTF-8; read in the ANSI code page 1251"
    must "the run log under the name the file meant" test -s "$work/журнал/run-1251.log"
    rm -rf "$work/.own/ImportData.xml" "$work/журнал/run-1251.log" "$work"/.own/*.lock
  fi
  serve --data "$out/inputs/generated.json" --cert "$out/inputs/service-cert.pem" --key "$out/inputs/service-key.pem"
  cp "$out/inputs/service-cert.pem" "$work/сертификаты/ca.pem"
  param_extra=" runLog=\"$(path_of журнал/run.log)\""
  config gen 'p&ss "word"' https://localhost 0 0000000000077777 сертификаты/ca.pem
  step import ImportData.xml
  must "the run log in the Cyrillic folder, with the run's line" line_count_is "$work/журнал/run.log" 1
  must "no warning" lacks_text "$work/.steps/1.err" "warning"
  expect 0
}

# A configuration with a byte-order mark and CR LF line ends (as Windows
# editors save it) keeps both through the rewrite of lastDocDT.
scenario_config_shape() {
  serve --data "$root/demo/cloud-data.json"
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  { printf '\xEF\xBB\xBF'; sed 's/$/\r/' "$work/config.xml"; } > "$work/.own/config.shaped"
  cp "$work/.own/config.shaped" "$work/config.xml"
  step import ImportData.xml
  must "lastDocDT to be rewritten" lacks_text "$work/config.xml" 'lastDocDT="0"'
  must "the byte-order mark kept" test "$(head -c 3 "$work/config.xml" | od -An -tx1 | tr -d ' ')" == efbbbf
  must "every line end CR LF" test "$(tr -cd '\n' < "$work/config.xml" | wc -c)" == "$(grep -a -c $'\r$' "$work/config.xml")"
  must "as many lines as before" test "$(wc -l < "$work/config.xml")" == "$(wc -l < "$work/.own/config.shaped")"
  expect 0
}

# The run log (runLog): one line per run whatever its outcome (ok, nothing to
# do, failed; a skipped run is in lock_overlap), CR LF on Windows, never the
# password or the session id (here in debug mode, where the console shows
# the session id). A log of 1 MB or more is renamed to NAME.1 and a new one
# begun.
scenario_run_log() {
  # The first run makes requests 1 to 8, the second none; the third logs in
  # (9) and its document query (10) fails.
  serve --data "$root/demo/cloud-data.json" --fault 10:status=500
  param_extra=" runLog=\"$(path_of run.log)\""
  config demo demo-pass http://127.0.0.1 1 0001234567890123
  cp "$root/demo/ExportData.xml" "$work/ExportData.xml"
  step import ImportData.xml
  step import ImportData.xml
  loaded_stub
  step import ImportData.xml
  step export ExportData.xml
  must "the run log to hold one line per run with its outcome" \
    test "$(awk -F ' [|] ' '{print $3}' "$work/run.log" | xargs -d '\n' echo)" == "ok nothing to do failed ok"
  must "the password never in the run log" lacks_text "$work/run.log" demo-pass
  must "the session id never in the run log" lacks_text "$work/run.log" a3f1c0de-5b7e-4d2b-9c3e-20241118d001
  must "the session id on the console in debug mode (else the check above proves nothing)" \
    has_text "$work/.steps/1.out" a3f1c0de-5b7e-4d2b-9c3e-20241118d001
  { head -c 1048576 /dev/zero | tr '\0' x; echo; } > "$work/run.log"
  cp "$work/run.log" "$work/.own/full.log"
  step export ExportData.xml
  must "the full run log renamed to run.log.1" same_bytes "$work/run.log.1" "$work/.own/full.log"
  must "a new run log begun with this run's line" line_count_is "$work/run.log" 1
  expect 0 0 253 0 0
}

scenarios=(check export export_debug import_demo import_generated_debug import_https import_https_untrusted
  import_service_faults lock_overlap config_read_only config_locked stale_temporaries cyrillic_folder
  unicode_folder long_path version utf8_config config_shape run_log)
[[ $# -gt 0 ]] && scenarios=("$@")

# --- Comparison -----------------------------------------------------------------

# sed_quoted TEXT: TEXT as a sed pattern that matches it literally.
sed_quoted() {
  printf '%s' "$1" | sed 's/[][\\.*^$#]/\\&/g'
}

# A file's text with what may differ masked: the side's folder (either
# spelling, with the separators of the names below it as on Linux), the
# service's port, time stamps of the local clock and how long ago they were,
# the id of a process that holds a lock, the Processed
# stamp of an export, and the system's reason after "read-only" (Linux adds
# one, Windows has none).
normalized() {
  local folder=$1 file=$2
  local winpattern
  winpattern=$(sed_quoted "Z:${folder//\//\\}")
  sed -e "s#$winpattern\\\\#FOLDER/#g" -e "s#$winpattern#FOLDER#g" \
    -e "s#$(sed_quoted "$folder")#FOLDER#g" \
    -e "s#FOLDER/$(sed_quoted "${cyrillic_dir}")\\\\#FOLDER/$cyrillic_dir/#g" \
    -e "s#FOLDER/$(sed_quoted "${unicode_dir//\//\\}")\\\\#FOLDER/$unicode_dir/#g" \
    -e ':separators' -e 's#\(FOLDER/[^\\" ]*\)\\#\1/#' -e 't separators' \
    -e "s#\(127\.0\.0\.1\|localhost\):$3#\1:PORT#g" \
    -e 's/[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9][+-][0-9]\{4\}/STAMP/g' \
    -e 's/since STAMP ([^)]*)/since STAMP (DURATION)/g' -e 's/(process [0-9][0-9]*,/(process PID,/g' \
    -e 's/\(<ExportData[^>]* Processed="\)[^"]*"/\1STAMP"/' \
    -e 's/\(the file is read-only\) ([^)]*)/\1/g' "$file"
}

# Files written in text mode on Windows: the console, writeLog's files and
# the run log.
is_text_mode_file() {
  case "$1" in
    .steps/*.out | *.log | *.json) [[ "$1" != .sim/* ]] ;;
    *) return 1 ;;
  esac
}

# The program's own lines of a standard error file (its error lines start
# with "kkmbridge:" or " export"), normalized, with a refused certificate's
# reason masked.
own_error_lines() {
  normalized "$1" <(grep -a -E '^(kkmbridge:| export)' "$2" || true) "$3" |
    sed -E 's/(SSL certificate problem|schannel): .*$/TLS REFUSAL/'
}

# compared_files DIR: the files of a side that are compared, one a line.
compared_files() {
  (cd "$1" && find . -type f ! -path './.sim/out' ! -path './.sim/err' ! -path './.steps/*.err' ! -path './.own/*' |
    sort)
}

failures=0
compare_scenario() {
  local name=$1 lin="$out/linux/$1" win="$out/windows/$1"
  local lport wport problems=""
  lport=$(sed -n 's/^cloud-sim listening on .*:\([0-9]*\)$/\1/p' "$lin/.sim/out")
  wport=$(sed -n 's/^cloud-sim listening on .*:\([0-9]*\)$/\1/p' "$win/.sim/out")
  local lfiles wfiles
  lfiles=$(compared_files "$lin")
  wfiles=$(compared_files "$win")
  if [[ "$lfiles" != "$wfiles" ]]; then
    problems+=$'\n'"  the files differ: $(diff <(echo "$lfiles") <(echo "$wfiles") | grep '^[<>]' | tr '\n' ' ' || true)"
  fi
  local f
  while IFS= read -r f; do
    f=${f#./}
    [[ -f "$win/$f" ]] || continue
    local wtext
    if is_text_mode_file "$f"; then
      # Every line end CR LF on Windows, LF on Linux.
      local lf crlf
      lf=$(tr -cd '\n' < "$win/$f" | wc -c)
      crlf=$(grep -a -c $'\r$' "$win/$f" || true)
      [[ $lf == "$crlf" ]] || problems+=$'\n'"  $f: $((lf - crlf)) of its $lf lines on Windows do not end with CR LF"
      wtext=$(normalized "$win" <(sed 's/\r$//' "$win/$f") "$wport"; echo x)
    else
      wtext=$(normalized "$win" "$win/$f" "$wport"; echo x)
    fi
    local ltext
    ltext=$(normalized "$lin" "$lin/$f" "$lport"; echo x)
    if [[ "$ltext" != "$wtext" ]]; then
      problems+=$'\n'"  $f differs:"$'\n'"$(diff <(printf '%s' "$ltext") <(printf '%s' "$wtext") | head -n 12 || true)"
    fi
  done <<< "$lfiles"
  # Standard error also carries libcurl's trace, which differs between the
  # TLS libraries; of it the program's own lines must be the same, apart
  # from the TLS library's reason for refusing a certificate.
  local err
  for err in "$lin"/.steps/*.err; do
    f=.steps/${err##*/}
    [[ -f "$win/$f" ]] || continue
    local lf crlf
    lf=$(tr -cd '\n' < "$win/$f" | wc -c)
    crlf=$(grep -a -c $'\r$' "$win/$f" || true)
    [[ $lf == "$crlf" ]] || problems+=$'\n'"  $f: $((lf - crlf)) of its $lf lines on Windows do not end with CR LF"
    local lown wown
    lown=$(own_error_lines "$lin" "$lin/$f" "$lport"; echo x)
    wown=$(own_error_lines "$win" <(sed 's/\r$//' "$win/$f") "$wport"; echo x)
    if [[ "$lown" != "$wown" ]]; then
      problems+=$'\n'"  $f (the program's own lines) differs:"$'\n'"$(diff <(printf '%s' "$lown") <(printf '%s' "$wown") | head -n 12 || true)"
    fi
  done
  local codes expected
  codes=$(cd "$lin/.steps" && for ((i = 1; i <= $(ls ./*.code | wc -l); i++)); do cat "$i.code"; done | xargs)
  expected=$(cat "$lin/.steps/expected")
  [[ "$codes" == "$expected" ]] || problems+=$'\n'"  exit codes $codes on Linux, not $expected"
  # What the scenario checked on each side itself.
  for f in "$lin/.own/problems" "$win/.own/problems"; do
    [[ -f "$f" ]] && problems+=$'\n'"$(sed 's/^/  expected /' "$f")"
  done
  if [[ -z "$problems" ]]; then
    echo "e2e ($arch): $name: the same on Linux and under Wine (exit codes: $codes)"
  else
    echo "e2e ($arch): $name: DIFFERENT$problems"
    failures=$((failures + 1))
  fi
}

for name in "${scenarios[@]}"; do
  for side in linux windows; do
    work="$out/$side/$name"
    mkdir -p "$work/.own"
    steps=0
    param_extra=""
    linux_wrap=()
    sim_dir=.sim
    "scenario_$name"
    stop_all
  done
  compare_scenario "$name"
done

echo "e2e ($arch): ${#scenarios[@]} scenarios, $((${#scenarios[@]} - failures)) the same, $failures different"
[[ $failures == 0 ]]
