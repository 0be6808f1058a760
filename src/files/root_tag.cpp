#include "files/root_tag.h"

#include "files/text_file.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Where the root element's start tag begins: the first '<' that opens no
// declaration, processing instruction, comment or document type.
std::size_t rootTagStart(std::string_view xml) {
  std::size_t pos = 0;
  while ((pos = xml.find('<', pos)) != npos) {
    const std::string_view rest = xml.substr(pos);
    std::size_t skip;
    if (rest.compare(0, 2, "<?") == 0) {
      skip = xml.find("?>", pos);
      if (skip != npos) skip += 2;
    } else if (rest.compare(0, 4, "<!--") == 0) {
      skip = xml.find("-->", pos);
      if (skip != npos) skip += 3;
    } else if (rest.compare(0, 2, "<!") == 0) {
      skip = xml.find('>', pos);
      if (skip != npos) skip += 1;
    } else {
      return pos;
    }
    if (skip == npos) return npos;
    pos = skip;
  }
  return npos;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool findRootStartTag(std::string_view xml, std::size_t& start, std::size_t& end) {
  start = rootTagStart(xml);
  if (start == npos) return false;
  // The tag ends at the first '>' outside a quoted value.
  char quote = 0;
  end = start + 1;
  for (; end < xml.size(); ++end) {
    const char c = xml[end];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      break;
    }
  }
  return end < xml.size();
}

const tinyxml2::XMLElement* parseRootStartTag(std::string_view xml, tinyxml2::XMLDocument& doc) {
  std::size_t start = 0;
  std::size_t end = 0;
  if (!findRootStartTag(xml, start, end)) return nullptr;
  // The start tag alone, closed as an empty element, reads as the root would.
  std::string tag(xml.substr(start, end - start));
  if (tag.empty() || tag.back() != '/') tag += '/';
  tag += '>';
  if (doc.Parse(tag.c_str(), tag.size()) != tinyxml2::XML_SUCCESS) return nullptr;
  return doc.RootElement();
}

const tinyxml2::XMLElement* readRootStartTag(const std::string& path, tinyxml2::XMLDocument& doc,
                                             std::size_t maxBytes) {
  const FileRead head = readFileStart(path, maxBytes);
  return head.found() ? parseRootStartTag(head.text, doc) : nullptr;
}
