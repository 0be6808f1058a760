// The JSON field scanner over a large document list, as the import meets it:
// the check list of one shift exactly as the service answers it (the
// content of "kkmDocs"), made in memory by the data generator.
//
//   DocumentWalk/N  getOneDocFromJSON from the first to the last of N checks
//   CheckReads/N    the walk plus every scanner call the import makes on each
//                   check: date, body, header tags, goods items and their
//                   tags, payments (no XML is built)
//   JsonAccept/N    the JSON library's check that the whole answer holding
//                   the N checks is well-formed (no tree built)
//   AnswerCheck/N   what the document query does with each answer before
//                   the walk sees it: that check, then finding the kkmDocs
//                   array in the text
//
// Bytes per second count the list's bytes once per pass.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "cloud/document_query.h"
#include "datetime.h"
#include "generator.h"
#include "report/check_element.h"
#include "store.h"
#include "text/json_scanner.h"

namespace {

// The checks of one shift of `checks` checks (3 goods each, 20 income and
// outcome documents among them, which the check query leaves out), joined
// as the service joins them.
const std::string& checkList(std::int64_t checks) {
  static std::map<std::int64_t, std::string> lists;
  std::string& text = lists[checks];
  if (!text.empty()) return text;
  cloudsim::GenOptions options;
  options.shifts = 1;
  options.checks = checks;
  options.goods = 3;
  options.cash = 20;
  cloudsim::generateDocuments(options, [&](const cloudsim::GenDoc& d) {
    if (d.kind != 3 && d.kind != 4) return;
    const std::string body = cloudsim::bodyText(d);
    if (!text.empty()) text += ',';
    text += cloudsim::renderDocument(d.id, d.docNo, options.kkm, d.kind, cloudsim::formatServiceTime(d.time), &body);
  });
  return text;
}

void DocumentWalk(benchmark::State& state) {
  const std::string& list = checkList(state.range(0));
  std::int64_t documents = 0;
  for (auto _ : state) {
    std::string doc;
    int pos = 0;
    std::size_t seen = 0;
    while (pos != -1) {
      pos = getOneDocFromJSON(list, pos, doc);
      seen += doc.size();
      ++documents;
    }
    benchmark::DoNotOptimize(seen);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(list.size()));
  state.SetItemsProcessed(documents);
}

void CheckReads(benchmark::State& state) {
  const std::string& list = checkList(state.range(0));
  std::int64_t documents = 0;
  for (auto _ : state) {
    std::string doc;
    std::string good;
    int pos = 0;
    std::size_t seen = 0;
    while (pos != -1) {
      pos = getOneDocFromJSON(list, pos, doc);
      ++documents;
      seen += getStringFromJSON(doc, "docDt").size();
      const std::string body = getBodyFromDocJSON(doc);
      seen += getTagValueFromBodyJSON(body, "t1038").size();
      seen += getTagValueFromBodyJSON(body, "t1042").size();
      seen += getTagValueFromBodyJSON(body, "t1055").size();
      seen += getTagValueFromBodyJSON(body, "t1054").size();
      const std::string_view goods = cutGoodsJSON(body);
      int goodPos = 0;
      while (goodPos != -1) {
        goodPos = getOneGoodFromGoodsJSON(goods, goodPos, good);
        seen += getTagStringFromBodyJSON(good, "t40385").size();
        seen += getTagStringFromBodyJSON(good, "t1023").size();
        seen += getTagSumFromBodyJSON(good, "t1079").size();
        seen += getTagSumFromBodyJSON(good, "t1043").size();
        seen += getTagValueFromBodyJSON(good, "t1199").size();
        seen += getTagValueFromBodyJSON(good, "t1214").size();
      }
      for (const char* tag : {"t1031", "t1081", "t1215", "t1216", "t1217"})
        seen += getTagSumFromBodyJSON(body, tag).size();
    }
    benchmark::DoNotOptimize(seen);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(list.size()));
  state.SetItemsProcessed(documents);
}

// The whole answer of the check query, as the service sends it.
const std::string& checkAnswer(std::int64_t checks) {
  static std::map<std::int64_t, std::string> answers;
  std::string& text = answers[checks];
  if (text.empty()) text = "{\"result\":{\"kkmDocs\":[" + checkList(checks) + "]}}";
  return text;
}

void JsonAccept(benchmark::State& state) {
  const std::string& answer = checkAnswer(state.range(0));
  for (auto _ : state) {
    const bool accepted = nlohmann::json::accept(answer);
    if (!accepted) state.SkipWithError("the answer is not accepted");
    benchmark::DoNotOptimize(accepted);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(answer.size()));
}

void AnswerCheck(benchmark::State& state) {
  const std::string& answer = checkAnswer(state.range(0));
  for (auto _ : state) {
    std::string_view docs;
    std::string reason;
    if (!findKkmDocs(answer, docs, reason)) state.SkipWithError(reason.c_str());
    benchmark::DoNotOptimize(docs);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(answer.size()));
}

BENCHMARK(DocumentWalk)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(CheckReads)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(JsonAccept)->Arg(2000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(AnswerCheck)->Arg(2000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
