#include "cloud/document_query.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Only a whole, well-formed answer holding its kkmDocs array is a list of
// documents; an empty array is an empty list.
TEST(findKkmDocs, AcceptsOnlyWholeAnswersHoldingTheList) {
  struct Case {
    std::string answer;
    bool complete;
    std::string docs;  // when complete
  };
  const std::vector<Case> cases = {
      {R"({"data":{"kkmDocs":[]}})", true, ""},
      {R"({"data":{"kkmDocs":[{"id":1},{"id":2}]}})", true, R"({"id":1},{"id":2})"},
      {R"({"data":{"kkmDocs":[{"id":1}]})", false, ""},                 // one closing brace only
      {"{\"data\":{\"kkmDocs\" :\r\n [{\"id\":1}] } }\n", true, R"({"id":1})"},  // JSON white space
      {R"(  {"kkmDocs":[{"id":1,"a":[2]}]})", true, R"({"id":1,"a":[2]})"},
      {R"({"data":{"kkmDocs":[{"id":1},{"id":2})", false, ""},           // cut after a document
      {R"({"data":{"kkmDocs":[{"id":1},{"id":2,"body":"{\"t1042\":7)", false, ""},  // cut inside one
      {R"({"result":{"kkmDocs":[{"id":1}],"count":3}})", true, R"({"id":1})"},  // members after the list
      {R"({"result":{"note":"a \"kkmDocs\":[ here","kkmDocs":[{"id":"]"}]}})", true, R"({"id":"]"})"},
      {R"({"data":{"kkmDocs":[{"id":1,"body":"x]}"})", false, ""},      // cut inside a string ending in ]}
      {R"({"data":{"kkmDocs":[{"id":1}]}} trailing)", false, ""},
      {R"({"type":"about:blank","status":500})", false, ""},             // an error document
      {R"({"kkmDocs":{}})", false, ""},
      {R"("kkmDocs":[])", false, ""},                                    // no object
      {"<html>moved</html>", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    std::string_view docs;
    std::string reason;
    EXPECT_EQ(c.complete, findKkmDocs(c.answer, docs, reason)) << "answer: " << c.answer;
    EXPECT_EQ(c.complete ? c.docs : std::string(), std::string(docs)) << "answer: " << c.answer;
    EXPECT_EQ(c.complete, reason.empty()) << "answer: " << c.answer;
    EXPECT_EQ(c.complete ? c.docs : std::string(), extractKkmDocs(c.answer)) << "answer: " << c.answer;
  }
}

}  // namespace
