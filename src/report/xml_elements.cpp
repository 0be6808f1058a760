#include "report/xml_elements.h"

tinyxml2::XMLElement* addElementWithText(tinyxml2::XMLDocument& doc, tinyxml2::XMLNode* parent, const char* name,
                                         const std::string& text) {
  tinyxml2::XMLElement* element = doc.NewElement(name);
  element->InsertFirstChild(doc.NewText(text.c_str()));
  parent->InsertEndChild(element);
  return element;
}

tinyxml2::XMLElement* addElementWithAttribute(tinyxml2::XMLDocument& doc, tinyxml2::XMLNode* parent, const char* name,
                                              const char* attributeName, const std::string& value) {
  tinyxml2::XMLElement* element = doc.NewElement(name);
  element->SetAttribute(attributeName, value.c_str());
  parent->InsertEndChild(element);
  return element;
}

tinyxml2::XMLElement* addRootElementWithText(tinyxml2::XMLDocument& doc, const char* name, const std::string& text) {
  return addElementWithText(doc, &doc, name, text);
}

namespace {

// What each format is called: in the ImportData root's namespace, in its
// FormatVersion attribute (and the formatVersion setting), and to people.
struct FormatNames {
  const char* ns;
  const char* version;
  const char* title;
};

const FormatNames& namesOf(ImportDataFormat format) {
  static const FormatNames kNames[] = {  // in the order of ImportDataFormat
      {kImportDataNamespace, kImportDataFormatVersion, "3.0"},
      {kImportDataNamespace3001, kImportDataFormatVersion3001, "3.0.0.1"},
      {kImportDataNamespace3002, kImportDataFormatVersion3002, "3.0.0.2"},
      {kImportDataNamespace3003, kImportDataFormatVersion3003, "3.0.0.3"},
  };
  static_assert(sizeof kNames / sizeof kNames[0] == sizeof kImportDataFormats / sizeof kImportDataFormats[0]);
  return kNames[static_cast<int>(format)];
}

}  // namespace

const char* namespaceOf(ImportDataFormat format) { return namesOf(format).ns; }

const char* formatVersionOf(ImportDataFormat format) { return namesOf(format).version; }

const char* formatTitleOf(ImportDataFormat format) { return namesOf(format).title; }

bool shiftStateIsAttribute(ImportDataFormat format) { return format != ImportDataFormat::k3000; }

namespace {

// Sets `format` to the format whose `nameOf` is `text`; false when none is.
bool formatWhose(const char* (*nameOf)(ImportDataFormat), std::string_view text, ImportDataFormat& format) {
  for (const ImportDataFormat f : kImportDataFormats) {
    if (text == nameOf(f)) {
      format = f;
      return true;
    }
  }
  return false;
}

}  // namespace

bool formatNamed(std::string_view text, ImportDataFormat& format) { return formatWhose(formatVersionOf, text, format); }

bool formatOfNamespace(std::string_view ns, ImportDataFormat& format) { return formatWhose(namespaceOf, ns, format); }

tinyxml2::XMLElement* addImportDataRoot(tinyxml2::XMLDocument& doc, ImportDataFormat format) {
  doc.InsertEndChild(doc.NewDeclaration());
  tinyxml2::XMLElement* root = addRootElementWithText(doc, "ImportData", "");
  root->SetAttribute("xmlns", namespaceOf(format));
  root->SetAttribute("xmlns:xs", kXmlSchemaNamespace);
  root->SetAttribute("xmlns:xsi", kXmlSchemaInstanceNamespace);
  root->SetAttribute("FormatVersion", formatVersionOf(format));
  return root;
}

std::string xmlToString(const tinyxml2::XMLNode& node) {
  tinyxml2::XMLPrinter printer(nullptr, false, 0);
  node.Accept(&printer);
  // CStrSize counts the terminating zero.
  const int size = printer.CStrSize();
  return size > 1 ? std::string(printer.CStr(), static_cast<std::size_t>(size - 1)) : std::string();
}
