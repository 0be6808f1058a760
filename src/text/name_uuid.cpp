#include "text/name_uuid.h"

#include <array>

#include "platform/platform.h"

namespace {

constexpr std::size_t kUuidBytes = 16;
constexpr std::array<std::size_t, 4> kDashesAfter = {4, 6, 8, 10};  // byte counts in front of each dash

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseUuid(std::string_view text, std::array<unsigned char, kUuidBytes>& bytes) {
  std::size_t pos = 0;
  std::size_t dash = 0;
  for (std::size_t i = 0; i < kUuidBytes; ++i) {
    if (dash < kDashesAfter.size() && i == kDashesAfter[dash]) {
      if (pos >= text.size() || text[pos] != '-') return false;
      ++pos;
      ++dash;
    }
    if (pos + 1 >= text.size()) return false;
    const int high = hexValue(text[pos]);
    const int low = hexValue(text[pos + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high * 16 + low);
    pos += 2;
  }
  return pos == text.size();
}

}  // namespace

std::string nameBasedUuid(std::string_view namespaceUuid, std::string_view name) {
  std::array<unsigned char, kUuidBytes> space{};
  if (!parseUuid(namespaceUuid, space)) return "";
  std::string hashed(reinterpret_cast<const char*>(space.data()), space.size());
  hashed.append(name);
  std::array<unsigned char, 20> digest{};
  if (!platform::sha1(hashed, digest)) return "";
  digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x50);  // version 5
  digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  std::size_t dash = 0;
  for (std::size_t i = 0; i < kUuidBytes; ++i) {
    if (dash < kDashesAfter.size() && i == kDashesAfter[dash]) {
      out += '-';
      ++dash;
    }
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0F];
  }
  return out;
}
