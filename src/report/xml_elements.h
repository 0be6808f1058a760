// How every element of the ImportData file is made, so that elements meant
// to print with a start and an end tag get a text child (also an empty one),
// and attributes stand in the file in the order they are set.
#pragma once

#include <tinyxml2.h>

#include <string>

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
