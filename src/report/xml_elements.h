// How every element of the ImportData file is made, so that elements meant
// to print with a start and an end tag get a text child (also an empty one),
// and attributes stand in the file in the order they are set.
#pragma once

#include <tinyxml2.h>

#include <string>
#include <string_view>

// The formats of 1C's exchange files that the program writes: the four that
// 1C's device settings offer. 1C reads a file in the format set on the
// device in 1C, and refuses one in any other.
enum class ImportDataFormat {
  k3000,  // format 3.0: ShiftState is an element, the last of each SaleReport
  k3001,  // formats 3.0.0.1, 3.0.0.2 and 3.0.0.3: ShiftState is an attribute of SaleReport
  k3002,
  k3003,
};

// Every format, oldest first.
inline constexpr ImportDataFormat kImportDataFormats[] = {ImportDataFormat::k3000, ImportDataFormat::k3001,
                                                          ImportDataFormat::k3002, ImportDataFormat::k3003};

// Namespaces and format versions written on the ImportData root.
inline constexpr const char* kImportDataNamespace = "http://www.1c.ru/EquipmentService/3.0.0.0";
inline constexpr const char* kImportDataNamespace3001 = "http://www.1c.ru/EquipmentService/3.0.0.1";
inline constexpr const char* kImportDataNamespace3002 = "http://www.1c.ru/EquipmentService/3.0.0.2";
inline constexpr const char* kImportDataNamespace3003 = "http://www.1c.ru/EquipmentService/3.0.0.3";
inline constexpr const char* kXmlSchemaNamespace = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char* kXmlSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char* kImportDataFormatVersion = "3000";
inline constexpr const char* kImportDataFormatVersion3001 = "3001";
inline constexpr const char* kImportDataFormatVersion3002 = "3002";
inline constexpr const char* kImportDataFormatVersion3003 = "3003";

// The namespace, the FormatVersion text and the title 1C's device settings
// show ("3.0", "3.0.0.1", ...) of `format`.
const char* namespaceOf(ImportDataFormat format);
const char* formatVersionOf(ImportDataFormat format);
const char* formatTitleOf(ImportDataFormat format);

// Whether `format` writes ShiftState as an attribute of SaleReport (every
// format after 3.0) rather than as its last element.
bool shiftStateIsAttribute(ImportDataFormat format);

// The format that the formatVersion setting `text` names ("3000", "3001",
// "3002" or "3003", exactly); false for any other text.
bool formatNamed(std::string_view text, ImportDataFormat& format);

// The format whose namespace is `ns`; false for any other namespace.
bool formatOfNamespace(std::string_view ns, ImportDataFormat& format);

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
// ImportData root with the namespaces and the format version of `format`;
// returns the root.
tinyxml2::XMLElement* addImportDataRoot(tinyxml2::XMLDocument& doc, ImportDataFormat format);

// `node` printed in the library's indented layout, from depth 0.
std::string xmlToString(const tinyxml2::XMLNode& node);
