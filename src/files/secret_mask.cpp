#include "files/secret_mask.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "text/escaping.h"

namespace {

std::vector<std::string>& secrets() {
  static std::vector<std::string> all;
  return all;
}

constexpr std::string_view kMask = "***";

// Calls `piece` with the parts of `text` between the secrets and `kMask` in
// place of each secret, in order.
void forEachPiece(std::string_view text, const std::function<void(std::string_view)>& piece) {
  const std::vector<std::string>& all = secrets();
  // Where each secret next stands at or after `pos`, so that no secret is
  // searched for again before the text has passed its last find.
  std::vector<std::size_t> next(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) next[i] = text.find(all[i]);
  std::size_t pos = 0;
  while (true) {
    std::size_t best = std::string_view::npos;
    std::size_t bestLength = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (next[i] != std::string_view::npos && next[i] < pos) next[i] = text.find(all[i], pos);
      if (next[i] == std::string_view::npos) continue;
      if (next[i] < best || (next[i] == best && all[i].size() > bestLength)) {
        best = next[i];
        bestLength = all[i].size();
      }
    }
    if (best == std::string_view::npos) break;
    if (best > pos) piece(text.substr(pos, best - pos));
    piece(kMask);
    pos = best + bestLength;
  }
  if (pos < text.size()) piece(text.substr(pos));
}

}  // namespace

void addSecret(std::string_view spelling) {
  if (spelling.empty()) return;
  std::vector<std::string>& all = secrets();
  if (std::find(all.begin(), all.end(), spelling) == all.end()) all.emplace_back(spelling);
}

void addPasswordSecret(std::string_view password) {
  addSecret(password);
  addSecret(xmlAttributeEscaped(password));
  addSecret(percentEncode(password));
}

void clearSecrets() { secrets().clear(); }

bool containsSecret(std::string_view text) {
  for (const std::string& secret : secrets())
    if (text.find(secret) != std::string_view::npos) return true;
  return false;
}

std::string maskSecrets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  forEachPiece(text, [&out](std::string_view piece) { out.append(piece); });
  return out;
}

void writeMasked(std::FILE* out, std::string_view text) {
  forEachPiece(text, [out](std::string_view piece) { std::fwrite(piece.data(), 1, piece.size(), out); });
}

std::string xmlAttributeEscaped(std::string_view value) {
  std::string out;
  for (const char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c; break;
    }
  }
  return out;
}
