// What 1C's schema of the ImportData file (schema/EquipmentService_3_0_0_0.xsd
// for format 3.0, EquipmentService_3_0_0_3.xsd for 3.0.0.3) demands of a
// file, checked in C++ where running xmllint on every file is too slow (the
// fuzz target of the report).
//
// It checks what xmllint checks: the characters (UTF-8, XML 1.0 characters
// and character references), one root, the namespace, element names, order
// and counts, required and unknown attributes, xsi:nil, and every value's
// type and facets (xs:dateTime, decimal total and fraction digits, integers
// and their bounds, string lengths, enumerations, the UUID pattern). Where
// xmllint refuses more than the schema it follows xmllint: a decimal of more
// than 24 digits, a date-time with blanks around it.
//
// Not checked (the program never writes them): an encoding other than UTF-8
// and a document type declaration are refused outright, and xsi:type is
// refused; well-formedness beyond characters, references, '<' in attribute
// values and a single root is what tinyxml2 checks.
#pragma once

#include <string>
#include <string_view>

namespace kkmtest {

enum class ImportDataFormat { v3000, v3003 };

// "" when `text` is an ImportData file that 1C's schema of `format` accepts;
// otherwise one line naming the first violation: the element's path (such as
// ImportData/SaleReports/SaleReport[1]/Checks/Check[2]), the attribute and
// the value, or the line of the text.
std::string importDataSchemaViolation(std::string_view text, ImportDataFormat format = ImportDataFormat::v3000);

}  // namespace kkmtest
