#include "cloud/document_query.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(extractKkmDocs, CutsTheArrayContent) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"data":{"kkmDocs":[]}})", ""},
      {R"({"data":{"kkmDocs":[{"id":1},{"id":2}]}})", R"({"id":1},{"id":2})"},
      {R"({"data":{"kkmDocs":[{"id":1}]})", R"({"id":1)"},  // one closing brace only
      {R"({"data":{"kkmDocs": [{"id":1}]}})", ""},           // marker with a blank: not found
      {R"({"type":"about:blank","status":500})", ""},
      {R"("kkmDocs":[)", ""},
      {R"("kkmDocs":[ab)", "ab"},                            // fewer than three characters follow
      {R"("kkmDocs":[abc)", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, extractKkmDocs(c.first)) << "answer: " << c.first;
}

}  // namespace
