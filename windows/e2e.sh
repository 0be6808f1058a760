#!/usr/bin/env bash
# The end-to-end scenarios with the Windows kkmbridge.exe under Wine and with
# the Linux build, each side against its own cloud-sim on loopback with the
# same data. Everything each side leaves behind must be the same byte for
# byte, apart from time stamps, the port and the side's own folder name: the
# exchange files, the configuration, the requests the service got, the goods
# it stored, the console output, and in debug mode the log and dump files
# (which on Windows must end every line with CR LF, as must its console).
#
# usage: windows/e2e.sh ARCH     (after `make build` and windows/build.sh ARCH,
#                                 with the Wine prefix made by test.sh)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
arch=${1:?usage: e2e.sh ARCH}
linux_program="$root/build/kkmbridge"
sim="$root/build/cloud-sim"
exe="$root/build-windows/$arch/kkmbridge.exe"
prefix="$root/build-windows/wine-$arch"
out="$root/build-windows/e2e-$arch"

for f in "$linux_program" "$sim" "$exe"; do
  [[ -x "$f" ]] || { echo "e2e: $f is missing (make build; make windows)" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out/inputs"

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
port=""

# The side's name for a file of its work folder, as the program is given it:
# a full path, in Windows form on Windows.
path_of() {
  if [[ $side == windows ]]; then
    printf 'Z:%s\\%s' "${work//\//\\}" "$1"
  else
    printf '%s/%s' "$work" "$1"
  fi
}

# serve [cloud-sim options...]: starts the service for this run.
serve() {
  mkdir -p "$work/.sim"
  "$sim" serve --port 0 --state "$work/.sim/service" --log-dir "$work/.sim/requests" "$@" \
    > "$work/.sim/out" 2> "$work/.sim/err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q 'listening on' "$work/.sim/out" 2> /dev/null && break
    sleep 0.1
  done
  port=$(sed -n 's/^cloud-sim listening on .*:\([0-9]*\)$/\1/p' "$work/.sim/out")
  [[ -n "$port" ]] || { echo "e2e: cloud-sim did not start: $(cat "$work/.sim/err")" >&2; exit 1; }
}

stop_service() {
  if [[ -n "$sim_pid" ]]; then
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    sim_pid=""
  fi
}
trap stop_service EXIT

# config LOGIN PASSWORD SCHEME://HOST DEBUG KKM [CA_FILE]: the configuration file.
config() {
  local ca=""
  [[ -n "${6:-}" ]] && ca=" caFile=\"$(path_of "$6")\""
  local password
  password=$(printf '%s' "$2" | sed -e 's/&/\&amp;/g' -e 's/"/\&quot;/g')
  cat > "$work/config.xml" << XML
<?xml version="1.0" encoding="UTF-8"?>
<config>
	<basicparams>
		<param login="$1" password="$password" basicURL="$3:$port/api/" debugmode="$4"$ca/>
	</basicparams>
	<!-- the import rewrites lastDocDT and keeps this comment -->
	<importparams>
		<import lastDocDT="0" kkmNum="$5"/>
	</importparams>
</config>
XML
}

steps=0
# step MODE EXCHANGE_FILE: one run of the program, as the scheduler starts it.
step() {
  steps=$((steps + 1))
  mkdir -p "$work/.steps"
  local code=0
  if [[ $side == windows ]]; then
    (cd "$work" && "$here/wine-run.sh" "$prefix" "$exe" "$1" "$(path_of config.xml)" "$(path_of "$2")") \
      > "$work/.steps/$steps.out" 2> "$work/.steps/$steps.err" < /dev/null || code=$?
  else
    (cd "$work" && "$linux_program" "$1" "$(path_of config.xml)" "$(path_of "$2")") \
      > "$work/.steps/$steps.out" 2> "$work/.steps/$steps.err" < /dev/null || code=$?
  fi
  echo "$code" > "$work/.steps/$steps.code"
  # The exchange file and the configuration as this run left them.
  [[ -f "$work/$2" ]] && cp "$work/$2" "$work/.steps/$steps.exchange"
  cp "$work/config.xml" "$work/.steps/$steps.config"
}

# expect CODE...: the exit codes the scenario's runs must end with.
expect() {
  echo "$*" > "$work/.steps/expected"
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

# The service fails the document query, then cuts an answer short.
scenario_import_service_faults() {
  serve --data "$root/demo/cloud-data.json" --fault 2:status=500 --fault 4:close=10
  config demo demo-pass http://127.0.0.1 0 0001234567890123
  step import ImportData.xml
  step import ImportData.xml
  step import ImportData.xml
  expect 253 253 0
}

scenarios=(export export_debug import_demo import_generated_debug import_https import_https_untrusted
  import_service_faults)

# --- Comparison -----------------------------------------------------------------

# A file's text with what may differ masked: the side's folder (either
# spelling), the service's port, time stamps of the local clock, the Processed
# stamp of an export.
normalized() {
  local folder=$1 file=$2
  local winfolder="Z:${folder//\//\\}"
  local winpattern
  winpattern=$(printf '%s' "$winfolder" | sed 's/[][\\.*^$#]/\\&/g')
  sed -e "s#$winpattern\\\\#FOLDER/#g" -e "s#$winpattern#FOLDER#g" \
    -e "s#$(printf '%s' "$folder" | sed 's/[][\\.*^$#]/\\&/g')#FOLDER#g" \
    -e "s#\(127\.0\.0\.1\|localhost\):$3#\1:PORT#g" \
    -e 's/[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9][+-][0-9]\{4\}/STAMP/g' \
    -e 's/\(<ExportData[^>]* Processed="\)[^"]*"/\1STAMP"/' "$file"
}

# Files written in text mode on Windows: the console and writeLog's files.
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

failures=0
compare_scenario() {
  local name=$1 lin="$out/linux/$1" win="$out/windows/$1"
  local lport wport problems=""
  lport=$(sed -n 's/^cloud-sim listening on .*:\([0-9]*\)$/\1/p' "$lin/.sim/out")
  wport=$(sed -n 's/^cloud-sim listening on .*:\([0-9]*\)$/\1/p' "$win/.sim/out")
  local lfiles wfiles
  lfiles=$(cd "$lin" && find . -type f ! -path './.sim/out' ! -path './.sim/err' ! -path './.steps/*.err' | sort)
  wfiles=$(cd "$win" && find . -type f ! -path './.sim/out' ! -path './.sim/err' ! -path './.steps/*.err' | sort)
  if [[ "$lfiles" != "$wfiles" ]]; then
    problems+=$'\n'"  the files differ: $(diff <(echo "$lfiles") <(echo "$wfiles") | grep '^[<>]' | tr '\n' ' ' || true)"
  fi
  local f
  for f in $lfiles; do
    f=${f#./}
    [[ -f "$win/$f" ]] || continue
    local wtext
    if is_text_mode_file "$f"; then
      # Every line end CR LF on Windows, LF on Linux.
      local lf crlf
      lf=$(tr -cd '\n' < "$win/$f" | wc -c)
      crlf=$(grep -c $'\r$' "$win/$f" || true)
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
  done
  # Standard error also carries libcurl's trace, which differs between the
  # TLS libraries; of it the program's own lines must be the same, apart
  # from the TLS library's reason for refusing a certificate.
  local err
  for err in "$lin"/.steps/*.err; do
    f=.steps/${err##*/}
    [[ -f "$win/$f" ]] || continue
    local lf crlf
    lf=$(tr -cd '\n' < "$win/$f" | wc -c)
    crlf=$(grep -c $'\r$' "$win/$f" || true)
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
    mkdir -p "$work"
    steps=0
    "scenario_$name"
    stop_service
  done
  compare_scenario "$name"
done

echo "e2e ($arch): ${#scenarios[@]} scenarios, $((${#scenarios[@]} - failures)) the same, $failures different"
[[ $failures == 0 ]]
