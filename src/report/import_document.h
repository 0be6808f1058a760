// The ImportData exchange file: the sales reports that 1C loads, one per
// closed shift, and the import run that writes it.
//
// Every element of the file is made through the three helpers below, so that
// elements meant to print with a start and an end tag get a text child (also
// an empty one), and attributes stand in the file in the order they are set.
#pragma once

#include <tinyxml2.h>

#include <string>

#include "report/shift_intervals.h"

// Namespaces and format version written on the ImportData root.
inline constexpr const char* kImportDataNamespace = "http://www.1c.ru/EquipmentService/3.0.0.0";
inline constexpr const char* kXmlSchemaNamespace = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char* kXmlSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char* kImportDataFormatVersion = "3000";

// A new element `name` whose first child is a text node holding `text` (also
// when `text` is empty), inserted as the last child of `parent`.
tinyxml2::XMLElement* addElementWithText(tinyxml2::XMLDocument& doc, tinyxml2::XMLNode* parent, const char* name,
                                         const std::string& text);

// A new element `name` with the one attribute `attributeName`=`value` and no
// text node, inserted as the last child of `parent`.
tinyxml2::XMLElement* addElementWithAttribute(tinyxml2::XMLDocument& doc, tinyxml2::XMLNode* parent, const char* name,
                                              const char* attributeName, const std::string& value);

// As addElementWithText, with the document itself as the parent.
tinyxml2::XMLElement* addRootElementWithText(tinyxml2::XMLDocument& doc, const char* name, const std::string& text);

// Adds to the empty `doc` the library's default declaration and the
// ImportData root with its namespaces and format version; returns the root.
tinyxml2::XMLElement* addImportDataRoot(tinyxml2::XMLDocument& doc);

// `node` printed in the library's indented layout, from depth 0.
std::string xmlToString(const tinyxml2::XMLNode& node);

// What an existing exchange file holds, as far as replacing it is concerned.
enum class ExchangeFileState {
  kMissing,        // no file: may be written
  kEmpty,          // 0 bytes: may be replaced
  kProcessedStub,  // ImportData with Processed: 1C has loaded it, may be replaced
  kNoSaleReport,   // ImportData without any SaleReport: may be replaced
  kNotLoaded,      // ImportData without Processed holding sales reports: 1C has yet to load it
  kForeign,        // not XML, or a root other than ImportData: not ours to replace
  kUnreadable,     // exists but cannot be read
};

struct ExchangeFileCheck {
  ExchangeFileState state = ExchangeFileState::kMissing;
  std::string content;  // the file's bytes as found; empty when missing
  std::string reason;   // why the file is kForeign or kUnreadable
};

// Reads the exchange file `fileName` and tells what it holds.
ExchangeFileCheck inspectExchangeFile(const std::string& fileName);

// Builds the ImportData document from the documents `query` finds since the
// lastDocDT setting, saves it atomically to `xmlFileName` and only then moves
// lastDocDT in `configFileName` to the last reported shift close.
//
// All or nothing: when a query fails or the exchange file cannot be written,
// nothing is written and the configuration stays as it was; when the
// configuration cannot be updated after the save, the exchange file is put
// back as `previous` found it. Without any closed shift no file is written.
// Reports on standard output (success, nothing new) or standard error
// (failure), one line each, and returns the exit code: kExitOk or
// kExitRunFailed.
int writeImportDataXML(const std::string& xmlFileName, const std::string& configFileName, const DocumentQuery& query,
                       const ExchangeFileCheck& previous);

// The import run with the documents coming from `query`: looks at the
// exchange file first (an unloaded report is never replaced, a file that is
// not ours never touched), reads the import settings from `configFileName`,
// then writeImportDataXML. Returns the exit code.
int runImport(const std::string& fileName, const std::string& configFileName, const DocumentQuery& query);
