#include "json_text.h"

namespace cloudsim {

void appendJsonQuoted(std::string& out, const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 0x0F]);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
}

std::string jsonQuote(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 2);
    appendJsonQuoted(out, text);
    return out;
}

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads four hex digits at text[pos..pos+3], all below end.
bool readHex4(const std::string& text, size_t pos, size_t end, unsigned& out) {
    if (pos > end || end - pos < 4) return false;
    unsigned v = 0;
    for (size_t i = 0; i < 4; ++i) {
        const int h = hexValue(text[pos + i]);
        if (h < 0) return false;
        v = v * 16 + static_cast<unsigned>(h);
    }
    out = v;
    return true;
}

void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

bool findStringMember(const std::string& text, const std::string& key, StringMember& out) {
    const std::string quotedKey = "\"" + key + "\"";
    const size_t keyPos = text.find(quotedKey);
    if (keyPos == std::string::npos) return false;
    size_t i = keyPos + quotedKey.size();
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i >= text.size() || text[i] != ':') return false;
    ++i;
    while (i < text.size() && isSpace(text[i])) ++i;
    if (i >= text.size() || text[i] != '"') return false;
    const size_t begin = i + 1;
    for (size_t j = begin; j < text.size(); ++j) {
        if (text[j] == '\\') {
            ++j;  // the escaped byte, whatever it is
        } else if (text[j] == '"') {
            out.valueBegin = begin;
            out.valueEnd = j;
            return true;
        }
    }
    return false;
}

std::string decodeJsonStringContent(const std::string& text, size_t begin, size_t end) {
    if (end > text.size()) end = text.size();
    std::string out;
    if (begin >= end) return out;
    out.reserve(end - begin);
    size_t i = begin;
    while (i < end) {
        const char c = text[i];
        if (c != '\\' || i + 1 >= end) {
            out.push_back(c);
            ++i;
            continue;
        }
        const char e = text[i + 1];
        switch (e) {
            case '"': out.push_back('"'); i += 2; continue;
            case '\\': out.push_back('\\'); i += 2; continue;
            case '/': out.push_back('/'); i += 2; continue;
            case 'b': out.push_back('\b'); i += 2; continue;
            case 'f': out.push_back('\f'); i += 2; continue;
            case 'n': out.push_back('\n'); i += 2; continue;
            case 'r': out.push_back('\r'); i += 2; continue;
            case 't': out.push_back('\t'); i += 2; continue;
            case 'u': {
                unsigned cp = 0;
                if (!readHex4(text, i + 2, end, cp)) break;
                size_t used = 6;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned low = 0;
                    if (i + 7 < end && text[i + 6] == '\\' && text[i + 7] == 'u' &&
                        readHex4(text, i + 8, end, low) && low >= 0xDC00 && low <= 0xDFFF) {
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        used = 12;
                    }
                }
                appendUtf8(out, cp);
                i += used;
                continue;
            }
            default:
                break;
        }
        // Not a JSON escape: keep the backslash; the next byte follows as is.
        out.push_back(c);
        ++i;
    }
    return out;
}

}  // namespace cloudsim
