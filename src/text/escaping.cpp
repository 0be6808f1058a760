#include "text/escaping.h"

#include <array>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

void appendJsonEscaped(std::string& out, std::string_view text, Tabs tabs) {
  // How many bytes each input byte becomes: '"' '\\' TAB LF CR two (a
  // dropped TAB none), other control bytes six (\u00XX), everything else
  // one. The result is sized once and filled in place: a goods file can be
  // 100 MB.
  static const auto kEscapingWidth = [] {
    std::array<unsigned char, 256> width{};
    width.fill(1);
    for (int c = 0; c < 0x20; ++c) width[c] = 6;
    width['\t'] = width['\n'] = width['\r'] = width['"'] = width['\\'] = 2;
    return width;
  }();
  static const auto kDroppingWidth = [] {
    std::array<unsigned char, 256> width = kEscapingWidth;
    width['\t'] = 0;
    return width;
  }();
  const auto& kWidth = tabs == Tabs::kDrop ? kDroppingWidth : kEscapingWidth;
  std::size_t size = 0;
  for (const char c : text) size += kWidth[static_cast<unsigned char>(c)];
  const std::size_t start = out.size();
  out.resize(start + size);
  char* to = out.data() + start;
  const char* from = text.data();
  const char* const end = from + text.size();
  while (from < end) {
    // A run of bytes that stand for themselves is copied in one go.
    const char* run = from;
    while (run < end && kWidth[static_cast<unsigned char>(*run)] == 1) ++run;
    std::memcpy(to, from, static_cast<std::size_t>(run - from));
    to += run - from;
    if (run == end) break;
    const unsigned char c = static_cast<unsigned char>(*run);
    from = run + 1;
    if (kWidth[c] == 2) {
      *to++ = '\\';
      *to++ = c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : static_cast<char>(c);
    } else if (kWidth[c] == 6) {
      *to++ = '\\';
      *to++ = 'u';
      *to++ = '0';
      *to++ = '0';
      *to++ = kHexDigits[c >> 4];
      *to++ = kHexDigits[c & 0xF];
    }
  }
}

std::string escapeForJsonString(std::string_view text) {
  std::string buffer;
  appendJsonEscaped(buffer, text, Tabs::kDrop);
  return buffer;
}

std::string percentEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '_' || c == '.' || c == '~';
    if (unreserved) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 0xF]);
    }
  }
  return out;
}

void appendQuotedBytes(std::string& out, std::string_view text, bool highBytes) {
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || (highBytes && c >= 0x80)) {
      out += "\\x";
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 0xF]);
    } else {
      out.push_back(ch);
    }
  }
}
