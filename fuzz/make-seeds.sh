#!/bin/sh
# Rewrites the seed corpora under fuzz/corpus/ from the demo data, a small
# generated data set and the test configuration files. Needs a built
# cloud-sim (first argument, default build/cloud-sim) and curl. The corpora
# are kept in the repository; run this only to renew them.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
sim=${1:-$root/build/cloud-sim}
corpus=$here/corpus
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT

mkdir -p "$corpus/fuzz_report" "$corpus/fuzz_json_scanner" "$corpus/fuzz_config" "$corpus/fuzz_text_file" \
         "$corpus/fuzz_date_time"

# $1 data file, $2 session, $3 register, $4 name of the seed
answers() {
  rm -f "$work/port"  # a previous server's line would pass for this one's
  "$sim" serve --data "$1" --port 0 >"$work/port" &
  pid=$!
  while ! grep -q listening "$work/port" 2>/dev/null; do sleep 0.1; done
  url="http://$(sed 's/.* on //' "$work/port")/api/WebDataPackPost"
  for kinds in "2,5" "3,4" "129,130"; do
    curl -s -X POST "$url" --data-binary "{\"session\":{\"idSession\":\"$2\"},\"params\":{\"ext\":{\"getDocumentsCommands\":[{\"dateFrom\":\"2000-01-01T00:00:00\",\"dateTo\":\"2100-01-01T00:00:00\",\"serialNumbers\":[\"$3\"],\"kinds\":[$kinds]}]}}}" \
      >"$work/answer-$kinds"
  done
  kill $pid; wait $pid || true
  { cat "$work/answer-2,5"; printf '\n#--\n'; cat "$work/answer-3,4"; printf '\n#--\n'; cat "$work/answer-129,130"; } \
    >"$corpus/fuzz_report/$4"
  # One answer for every query: the walk sees checks among the shifts.
  cp "$work/answer-3,4" "$corpus/fuzz_report/$4-one-answer"
  # Scanner: key length, start position 0, key, then a document list or one body.
  { printf '\007\000\000docKind'; cat "$work/answer-2,5"; } >"$corpus/fuzz_json_scanner/$4-docs"
  { printf '\005\000\000t1043'; cat "$work/answer-3,4"; } >"$corpus/fuzz_json_scanner/$4-checks"
  { printf '\005\000\000t1055'; cat "$work/answer-129,130"; } >"$corpus/fuzz_json_scanner/$4-cash"
}

answers "$root/demo/cloud-data.json" a3f1c0de-5b7e-4d2b-9c3e-20241118d001 0001234567890123 demo
"$sim" generate --out "$work/gen.json" --shifts 2 --checks 3 --goods 2 --cash 1 --open-shift --seed 7 >/dev/null
session=$(sed -n 's/.*"idSession": *"\([^"]*\)".*/\1/p' "$work/gen.json" | head -n 1)
answers "$work/gen.json" "$session" 0000000000012345 generated

cp "$root/demo/config.xml" "$corpus/fuzz_config/demo-config.xml"
printf '<?xml version="1.0"?>\r\n<config><!-- c --><basicparams><param login="a&amp;b" password="p&quot;w" basicURL="https://h/api/" debugmode="1" caFile="C:\\ca.pem" sslVerify="0"/><param login="second"/></basicparams>\r\n<importparams><import kkmNum="1" extra="x"/></importparams></config>\r\n' \
  >"$corpus/fuzz_config/full-config.xml"
cp "$root/demo/config.xml" "$corpus/fuzz_text_file/config.xml"
printf '\357\273\277<?xml version="1.0"?>\r\n<ExportData>\r\n\t<Goods/>\r\n</ExportData>\r\n' >"$corpus/fuzz_text_file/bom-crlf.xml"
printf 'no angle on the first line\nsecond <line>\r\rcr\n' >"$corpus/fuzz_text_file/plain.txt"

# Date seeds: format-length byte, 8 bytes of a time value, then format and text.
printf '\000\000\136\133\136\000\000\000\0002020-03-01T10:00:00.000+0000' >"$corpus/fuzz_date_time/service"
printf '\021\000\000\000\200\000\000\000\000%%Y-%%m-%%dT%%H:%%M:%%S2024-02-29T23:59:60+0300' >"$corpus/fuzz_date_time/leap"
printf '\000\377\377\377\377\377\377\377\3772020-02-31T24:00:00' >"$corpus/fuzz_date_time/out-of-range"
echo "seed corpora written to $corpus"
