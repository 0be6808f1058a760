// The importer's text-scanning rules, restated just far enough to check
// that the simulated service's answers come apart into the right values.
#pragma once

#include <string>

namespace scanrules {

inline std::string stringAfterKey(const std::string& text, const std::string& key) {
    const size_t k = text.find(key);
    if (k == std::string::npos) return "";
    const size_t colon = text.find(':', k + key.size());
    if (colon == std::string::npos) return "";
    const size_t open = text.find('"', colon + 1);
    if (open == std::string::npos) return "";
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos) return "";
    return text.substr(open + 1, close - open - 1);
}

// -1 when the key or the comma after it is missing; -2 when the text
// between the colon and the comma does not start with a number.
inline long intAfterKey(const std::string& text, const std::string& key) {
    const size_t k = text.find(key);
    if (k == std::string::npos) return -1;
    const size_t colon = text.find(':', k + key.size());
    if (colon == std::string::npos) return -1;
    const size_t comma = text.find(',', colon + 1);
    if (comma == std::string::npos) return -1;
    try {
        return std::stol(text.substr(colon + 1, comma - colon - 1));
    } catch (...) {
        return -2;
    }
}

// The documents array's content: after "kkmDocs":[ up to three bytes
// before the end of the answer.
inline std::string docsList(const std::string& answer) {
    const std::string marker = "\"kkmDocs\":[";
    const size_t m = answer.find(marker);
    if (m == std::string::npos) return "";
    const size_t start = m + marker.size();
    if (answer.size() - start < 3) return answer.substr(start);
    return answer.substr(start, answer.size() - start - 3);
}

inline long nextDoc(const std::string& text, long startPos, std::string& doc) {
    const std::string marker = "{\"id\":";
    const size_t p = text.find(marker, static_cast<size_t>(startPos));
    if (p == std::string::npos) return -1;
    const size_t next = text.find(marker, p + marker.size());
    if (next != std::string::npos) {
        doc = text.substr(p, next - 1 - p);
        return static_cast<long>(next);
    }
    doc = text.substr(p);
    return -1;
}

inline std::string bodyOf(const std::string& doc) {
    const size_t p = doc.find("\"body\":");
    if (p == std::string::npos || p + 8 > doc.size()) return "";
    return doc.substr(p + 8);
}

inline std::string tagValue(const std::string& body, const std::string& tag) {
    const size_t p = body.find(tag + "\\\":");
    if (p == std::string::npos) return "0";
    const size_t start = p + tag.size() + 3;
    const size_t next = body.find(",\\\"t", p);
    if (next != std::string::npos) return next >= start ? body.substr(start, next - start) : "";
    if (body.size() < start + 1) return "";
    return body.substr(start, body.size() - 1 - start);
}

inline std::string tagString(const std::string& body, const std::string& tag) {
    const size_t p = body.find(tag + "\\\":");
    if (p == std::string::npos) return "";
    const size_t start = p + tag.size() + 5;
    const size_t next = body.find(",\\\"t", p);
    const size_t end = next != std::string::npos ? next : body.size();
    if (end < start + 2) return "";
    return body.substr(start, end - 2 - start);
}

// Whole kopecks as currency text: "12345" gives "123.45", "5" gives "0.05".
inline std::string sumText(const std::string& raw) {
    if (raw.size() >= 3) return raw.substr(0, raw.size() - 2) + "." + raw.substr(raw.size() - 2);
    if (raw.size() == 2) return "0." + raw;
    return "0.0" + raw;
}

inline std::string tagSum(const std::string& body, const std::string& tag) {
    return sumText(tagValue(body, tag));
}

// The goods items' text cut out of a check body: the trailing "tl1059"
// list first, else the wrapped "t1059" list.
inline std::string goodsText(const std::string& body) {
    const std::string trailing = "tl1059\\\"";
    size_t p = body.find(trailing);
    if (p != std::string::npos) {
        const size_t start = p + trailing.size() + 3;
        size_t e = body.find("}]}\"}", p);
        if (e == std::string::npos) e = body.find("}]}", p);
        if (e == std::string::npos || e < start) return "";
        return body.substr(start, e - start);
    }
    const std::string wrapped = "t1059\\\"";
    p = body.find(wrapped);
    if (p == std::string::npos) return "";
    const size_t start = p + wrapped.size() + 3;
    const size_t e = body.find("},\\\"", p);
    if (e == std::string::npos || e < start) return "";
    return body.substr(start, e - start);
}

inline long nextGood(const std::string& goods, long startPos, std::string& item) {
    const size_t p = goods.find("\"t1023\\\":", static_cast<size_t>(startPos));
    if (p == std::string::npos) return -1;
    const size_t next = goods.find("\\\"t1023\\\":", p + 10);
    if (next != std::string::npos) {
        item = goods.substr(p, next - 3 - p);
        return static_cast<long>(next);
    }
    item = goods.substr(p);
    return -1;
}

}  // namespace scanrules
