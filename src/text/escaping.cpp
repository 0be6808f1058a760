#include "text/escaping.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

void appendJsonEscaped(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    // Copy the run of plain bytes in one go, then the escaped byte.
    out.append(text.substr(runStart, i - runStart));
    runStart = i + 1;
    switch (c) {
      case '\t': break;
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      default:
        out.append("\\u00");
        out.push_back(kHexDigits[c >> 4]);
        out.push_back(kHexDigits[c & 0xF]);
        break;
    }
  }
  out.append(text.substr(runStart));
}

std::string escapeForJsonString(std::string_view text) {
  std::string buffer;
  appendJsonEscaped(buffer, text);
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
