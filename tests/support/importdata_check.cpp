#include "importdata_check.h"

#include <tinyxml2.h>

#include <set>

#ifndef _WIN32
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <map>
#include <memory>
#include <mutex>
#endif

namespace kkmtest {

#ifndef _WIN32
namespace {

constexpr std::string_view kNamespacePrefix = "http://www.1c.ru/EquipmentService/3.0.0.";

struct SchemaFree {
  void operator()(xmlSchema* schema) const { xmlSchemaFree(schema); }
};
struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ValidCtxtFree {
  void operator()(xmlSchemaValidCtxt* ctxt) const { xmlSchemaFreeValidCtxt(ctxt); }
};
struct ParserCtxtFree {
  void operator()(xmlSchemaParserCtxt* ctxt) const { xmlSchemaFreeParserCtxt(ctxt); }
};

// The first error libxml2 reports, as "line N: message".
void keepFirstError(void* out, xmlErrorPtr error) {
  auto& first = *static_cast<std::string*>(out);
  if (!first.empty() || error == nullptr) return;
  std::string message = error->message != nullptr ? error->message : "unknown error";
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  first = "line " + std::to_string(error->line) + ": " + message;
}

// The schema of 1C's format N (schema/EquipmentService_3_0_0_N.xsd), read
// once per process; null with `error` set when it cannot be read.
xmlSchema* schemaOfFormat(char n, std::string& error) {
  static std::mutex mutex;
  static std::map<char, std::unique_ptr<xmlSchema, SchemaFree>> schemas;
  const std::lock_guard<std::mutex> lock(mutex);
  auto found = schemas.find(n);
  if (found != schemas.end()) return found->second.get();
  const std::string path = std::string(KKM_SCHEMA_DIR) + "/EquipmentService_3_0_0_" + n + ".xsd";
  const std::unique_ptr<xmlSchemaParserCtxt, ParserCtxtFree> parser(xmlSchemaNewParserCtxt(path.c_str()));
  std::string said;
  if (parser) xmlSchemaSetParserStructuredErrors(parser.get(), keepFirstError, &said);
  xmlSchema* schema = parser ? xmlSchemaParse(parser.get()) : nullptr;
  if (schema == nullptr) {
    error = "cannot read 1C's schema " + path + (said.empty() ? "" : ": " + said);
    return nullptr;
  }
  schemas[n].reset(schema);
  return schema;
}

}  // namespace

std::string exchangeSchemaViolation(std::string_view text) {
  std::string said;
  const std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(text.data(), static_cast<int>(text.size()),
                                                           "ImportData.xml", nullptr,
                                                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) {
    keepFirstError(&said, xmlGetLastError());
    return "not well-formed XML: " + said;
  }
  const xmlNode* root = xmlDocGetRootElement(doc.get());
  const std::string ns = root != nullptr && root->ns != nullptr && root->ns->href != nullptr
                             ? reinterpret_cast<const char*>(root->ns->href)
                             : "";
  if (ns.size() != kNamespacePrefix.size() + 1 || ns.compare(0, kNamespacePrefix.size(), kNamespacePrefix) != 0 ||
      ns.back() < '0' || ns.back() > '3')
    return "the root's namespace \"" + ns + "\" is none of 1C's formats 3000 to 3003";
  std::string error;
  xmlSchema* schema = schemaOfFormat(ns.back(), error);
  if (schema == nullptr) return error;
  const std::unique_ptr<xmlSchemaValidCtxt, ValidCtxtFree> ctxt(xmlSchemaNewValidCtxt(schema));
  if (!ctxt) return "libxml2 cannot make a validation context";
  xmlSchemaSetValidStructuredErrors(ctxt.get(), keepFirstError, &said);
  const int result = xmlSchemaValidateDoc(ctxt.get(), doc.get());
  if (result == 0) return "";
  return said.empty() ? "invalid against 1C's schema (libxml2 gave " + std::to_string(result) + ")" : said;
}
#endif

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A whole number as 1C's Число() reads one without failing: digits only.
bool isWholeNumber(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (!isDigit(c)) return false;
  return true;
}

// A decimal above 0: digits with at most one point, not all of them 0.
bool isPositiveDecimal(std::string_view text) {
  bool point = false, digit = false, nonZero = false;
  for (const char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (isDigit(c)) {
      digit = true;
      nonZero = nonZero || c != '0';
    } else {
      return false;
    }
  }
  return digit && nonZero;
}

std::string shown(const char* value) { return value == nullptr ? "missing" : "\"" + std::string(value) + "\""; }

}  // namespace

std::string importDataLoadStopper(std::string_view text) {
  tinyxml2::XMLDocument doc;
  if (doc.Parse(text.data(), text.size()) != tinyxml2::XML_SUCCESS) return "not XML: " + std::string(doc.ErrorStr());
  const tinyxml2::XMLElement* root = doc.RootElement();
  if (root == nullptr) return "no root element";
  std::set<std::string> uuids;
  int reportIndex = 0;
  for (const tinyxml2::XMLElement* reports = root->FirstChildElement("SaleReports"); reports;
       reports = reports->NextSiblingElement("SaleReports")) {
    for (const tinyxml2::XMLElement* report = reports->FirstChildElement("SaleReport"); report;
         report = report->NextSiblingElement("SaleReport")) {
      const std::string where = "SaleReports/SaleReport[" + std::to_string(++reportIndex) + "]";
      const char* number = report->Attribute("ShiftNumber");
      if (number == nullptr || !isWholeNumber(number))
        return where + ": ShiftNumber " + shown(number) + " is no whole number, and 1C's load stops at it";
      const char* uuid = report->Attribute("UUID");
      if (uuid == nullptr || *uuid == '\0')
        return where + ": no UUID, so 1C adds this shift's reports again on every load";
      if (!uuids.insert(uuid).second)
        return where + ": UUID \"" + uuid + "\" is another SaleReport's of the file too";
      const tinyxml2::XMLElement* checks = report->FirstChildElement("Checks");
      int checkIndex = 0;
      for (const tinyxml2::XMLElement* check = checks ? checks->FirstChildElement("Check") : nullptr; check;
           check = check->NextSiblingElement("Check")) {
        ++checkIndex;
        const tinyxml2::XMLElement* goods = check->FirstChildElement("Goods");
        int goodIndex = 0;
        for (const tinyxml2::XMLElement* good = goods ? goods->FirstChildElement("Good") : nullptr; good;
             good = good->NextSiblingElement("Good")) {
          ++goodIndex;
          const char* quantity = good->Attribute("Quantity");
          if (quantity == nullptr || !isPositiveDecimal(quantity))
            return where + "/Checks/Check[" + std::to_string(checkIndex) + "]/Goods/Good[" +
                   std::to_string(goodIndex) + "]: Quantity " + shown(quantity) +
                   " is not above 0 (1C divides Sum by it, and its load stops at a 0)";
        }
      }
    }
  }
  return "";
}

std::string importDataComplaints(std::string_view text) {
#ifndef _WIN32
  std::string said = exchangeSchemaViolation(text);
  if (!said.empty()) return said;
#endif
  return importDataLoadStopper(text);
}

}  // namespace kkmtest
