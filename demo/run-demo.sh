#!/usr/bin/env bash
# The program's main jobs against the simulated service: export the demo goods
# file, then import the demo register's shifts three times over (new shifts;
# a file 1C has not loaded yet; after 1C has loaded it, nothing new).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
schema=$root/schema/EquipmentService_3_0_0_0.xsd
schema3001=$root/schema/EquipmentService_3_0_0_1.xsd
work=$build/demo-run
rm -rf "$work"
mkdir -p "$work"
cd "$work"

"$build/cloud-sim" serve --data "$root/demo/cloud-data.json" --port 0 --state "$work/service" \
  >"$work/cloud-sim.out" 2>"$work/cloud-sim.err" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q 'listening on' "$work/cloud-sim.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^cloud-sim listening on .*:\([0-9]*\)$/\1/p' "$work/cloud-sim.out")
[ -n "$port" ] || { echo "cloud-sim did not start"; cat "$work/cloud-sim.err"; exit 1; }
sed "s/PORT/$port/" "$root/demo/config.xml" >config.xml
cp "$root/demo/ExportData.xml" ExportData.xml

step=0
run() {
  step=$((step + 1))
  echo
  echo "\$ kkmbridge $1 config.xml $2"
  set +e
  "$build/kkmbridge" "$1" "$work/config.xml" "$work/$2" 2>"$work/run$step.stderr"
  code=$?
  set -e
  # libcurl traces every POST on stderr; the program's own error lines start with "kkmbridge" or " export".
  grep -E '^(kkmbridge| export)' "$work/run$step.stderr" || true
  echo "(exit code $code; full stderr in $work/run$step.stderr)"
}

echo "=== cloud-sim is serving the demo register on 127.0.0.1:$port"
echo
echo "=== 1. export: 1C's goods file goes to the service and is stamped Processed"
echo "--- one item of 1C's catalogue ExportData.xml (format 3.0):"
grep -m 1 -A 4 '<Good ' ExportData.xml
run export ExportData.xml
echo "--- the stamped root of ExportData.xml, and the file against 1C's schema:"
grep -o '<ExportData[^>]*>' ExportData.xml
xmllint --noout --schema "$schema" ExportData.xml 2>&1
echo "--- the service received $(wc -c <service/goods-demo.xml) bytes of goods"

echo
echo "=== 2. import: the closed shifts become ImportData.xml"
run import ImportData.xml
echo "--- ImportData.xml:"
cat ImportData.xml
xmllint --noout --schema "$schema" ImportData.xml 2>&1
echo "--- each shift's UUID, by which 1C refills its reports instead of adding them again:"
grep -o 'ShiftNumber="[^"]*" UUID="[^"]*"' ImportData.xml
cp ImportData.xml loaded-3000.xml
echo "--- the goods codes of the sales reports, as the catalogue names them:"
for code in $(grep -o '<Good Code="[^"]*"' ImportData.xml | cut -d '"' -f 2 | sort -u); do
  name=$(grep -o "<Good Code=\"$code\" [^>]*" ExportData.xml | sed -n 's/.* Name="\([^"]*\)".*/\1/p')
  echo "  $code  ${name:-(not in the catalogue)}"
done
echo "--- lastDocDT now: $(grep -o 'lastDocDT="[^"]*"' config.xml)"

echo
echo "=== 3. import again before 1C has loaded the file: nothing is asked or changed"
run import ImportData.xml

echo
echo "=== 4. 1C loads the file and leaves its processed stub; the next import finds nothing new"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<ImportData xmlns="http://www.1c.ru/EquipmentService/3.0.0.0" FormatVersion="3000" Processed="%s"/>\n' \
  "$(date +%Y-%m-%dT%H:%M:%S)" >ImportData.xml
run import ImportData.xml
echo "--- ImportData.xml is still 1C's stub:"
cat ImportData.xml

echo
echo "=== 5. the device in 1C set to format 3.0.0.1: the same shifts once more (lastDocDT back to 0), written in 3001"
sed -i 's/lastDocDT="[^"]*"/lastDocDT="0" formatVersion="3001"/' config.xml
# 1C writes its goods file in the device's format too.
sed -i 's|xmlns="http://www.1c.ru/EquipmentService/3.0.0.0"|xmlns="http://www.1c.ru/EquipmentService/3.0.0.1"|' ExportData.xml
run import ImportData.xml
grep -o '<ImportData[^>]*>' ImportData.xml
xmllint --noout --schema "$schema3001" ImportData.xml 2>&1
echo "--- the UUIDs are those of the 3.0 file: 1C refills the same reports"
if diff <(grep -o 'UUID="[^"]*"' loaded-3000.xml) <(grep -o 'UUID="[^"]*"' ImportData.xml); then
  grep -o 'UUID="[^"]*"' ImportData.xml
else
  echo "the UUIDs differ"
  exit 1
fi
