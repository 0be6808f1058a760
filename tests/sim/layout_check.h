// Reads a documents answer the way the importer does and compares every
// value it would take with the fiscal document the service holds.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "scanner_rules.h"

namespace layoutcheck {

using OJson = nlohmann::ordered_json;

inline std::string money(int64_t kopecks) { return scanrules::sumText(std::to_string(kopecks)); }

// The goods array of a body object: "tl1059", or "t1059" one level down.
inline const OJson* goodsArray(const OJson& body) {
    if (body.contains("tl1059")) return &body["tl1059"];
    for (const auto& member : body.items())
        if (member.value().is_object() && member.value().contains("t1059")) return &member.value()["t1059"];
    return nullptr;
}

// Checks one document object as cut from an answer.
inline void checkDocument(const std::string& docText) {
    SCOPED_TRACE(docText.substr(0, 80));
    const OJson doc = OJson::parse(docText);
    ASSERT_TRUE(doc.contains("body"));
    const OJson body = OJson::parse(doc["body"].get<std::string>());
    const std::string bodyText = scanrules::bodyOf(docText);
    const int kind = doc["docKind"].get<int>();

    EXPECT_EQ(scanrules::intAfterKey(docText, "docKind"), kind);
    EXPECT_EQ(scanrules::stringAfterKey(docText, "docDt"), doc["docDt"].get<std::string>());
    EXPECT_EQ(scanrules::tagValue(docText, "t1038"), std::to_string(body["t1038"].get<int64_t>()));
    EXPECT_EQ(scanrules::tagValue(bodyText, "t1042"), std::to_string(body["t1042"].get<int64_t>()));

    if (kind == 129 || kind == 130) {
        EXPECT_EQ(scanrules::tagSum(bodyText, "t1055"), money(body["t1055"].get<int64_t>()));
        return;
    }
    if (kind != 3 && kind != 4) return;

    EXPECT_EQ(scanrules::tagValue(bodyText, "t1054"), std::to_string(body["t1054"].get<int>()));
    EXPECT_EQ(scanrules::tagValue(bodyText, "t1055"), std::to_string(body["t1055"].get<int>()));
    for (const char* tag : {"t1031", "t1081", "t1215", "t1216", "t1217"})
        EXPECT_EQ(scanrules::tagSum(bodyText, tag), money(body[tag].get<int64_t>())) << tag;

    const OJson* goods = goodsArray(body);
    ASSERT_NE(goods, nullptr);
    const std::string goodsText = scanrules::goodsText(bodyText);
    size_t index = 0;
    long pos = 0;
    std::string item;
    while (pos != -1) {
        pos = scanrules::nextGood(goodsText, pos, item);
        ASSERT_LT(index, goods->size()) << "more goods items read than the check holds";
        const OJson& g = (*goods)[index++];
        EXPECT_EQ(scanrules::tagString(item, "t40385"), g["t40385"].get<std::string>());
        EXPECT_EQ(scanrules::tagString(item, "t1023"), g["t1023"].get<std::string>());
        EXPECT_EQ(scanrules::tagSum(item, "t1079"), money(g["t1079"].get<int64_t>()));
        EXPECT_EQ(scanrules::tagSum(item, "t1043"), money(g["t1043"].get<int64_t>()));
        EXPECT_EQ(scanrules::tagValue(item, "t1199"), std::to_string(g["t1199"].get<int>()));
        EXPECT_EQ(scanrules::tagValue(item, "t1214"), std::to_string(g["t1214"].get<int>()));
    }
    EXPECT_EQ(index, goods->size());
}

// Checks every document of a documents answer; returns how many there were.
inline size_t checkAnswer(const std::string& answer) {
    const std::string list = scanrules::docsList(answer);
    size_t count = 0;
    long pos = 0;
    std::string doc;
    while (pos != -1) {
        pos = scanrules::nextDoc(list, pos, doc);
        if (doc.empty()) break;
        checkDocument(doc);
        ++count;
    }
    return count;
}

}  // namespace layoutcheck
