// How every element of the ImportData file is made, so that elements meant
// to print with a start and an end tag get a text child (also an empty one),
// and attributes stand in the file in the order they are set.
#pragma once

#include <tinyxml2.h>

#include <string>
#include <string_view>

// The formats of 1C's exchange files that the program writes. 1C reads a
// file in the format set on the device in 1C, and refuses one in the other.
enum class ImportDataFormat {
  k3000,  // format 3.0: ShiftState is an element, the last of each SaleReport
  k3003,  // format 3.0.0.3: ShiftState is an attribute of SaleReport
};

// Namespaces and format versions written on the ImportData root.
inline constexpr const char* kImportDataNamespace = "http://www.1c.ru/EquipmentService/3.0.0.0";
inline constexpr const char* kImportDataNamespace3003 = "http://www.1c.ru/EquipmentService/3.0.0.3";
inline constexpr const char* kXmlSchemaNamespace = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char* kXmlSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr const char* kImportDataFormatVersion = "3000";
inline constexpr const char* kImportDataFormatVersion3003 = "3003";

// The namespace and the FormatVersion text of `format`.
const char* namespaceOf(ImportDataFormat format);
const char* formatVersionOf(ImportDataFormat format);

// The format that the formatVersion setting `text` names ("3000" or
// "3003", exactly); false for any other text.
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
tinyxml2::XMLElement* addImportDataRoot(tinyxml2::XMLDocument& doc, ImportDataFormat format = ImportDataFormat::k3000);

// `node` printed in the library's indented layout, from depth 0.
std::string xmlToString(const tinyxml2::XMLNode& node);
