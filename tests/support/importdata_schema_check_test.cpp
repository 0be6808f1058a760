// The C++ check of 1C's ImportData schema and xmllint with the schema, on the
// same valid and invalid files: the verdicts agree, and the check names the
// value at fault.
#include "importdata_schema_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "test_files.h"

namespace {

using kkmtest::ImportDataFormat;

// A file as the program writes it, and its 3.0.0.3 counterpart.
const std::string kFile3000 =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<ImportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" FormatVersion=\"3000\"><SaleReports>"
    "<SaleReport OpeningDate=\"2020-03-02T08:00:00\" ClosingDate=\"2020-03-02T20:00:00\" ShiftNumber=\"15\"><Checks>"
    "<Check Date=\"2020-03-02T09:15:00\" Number=\"1\" TaxationSystem=\"1\" OperationType=\"1\"><Goods>"
    "<Good Code=\"100101\" Quantity=\"1.000\" Price=\"150.00\" Sum=\"150.00\" TaxRate=\"20\" PaymentMethod=\"4\"/>"
    "</Goods>\n    <Payments><Payment Cash=\"200.00\" ElectronicPayment=\"0.00\" PrePayment=\"0.00\" "
    "PostPayment=\"0.00\" Barter=\"0.00\"/></Payments>\n  </Check>\n</Checks>\n"
    "<IncomeOutcomeChecks><IncomeOutcomeCheck Date=\"2020-03-02T08:05:00\" Type=\"Income\" Number=\"3\" "
    "Sum=\"1000.00\"/></IncomeOutcomeChecks>\n<ShiftState>2</ShiftState>\n</SaleReport>\n</SaleReports>\n"
    "</ImportData>\n";
const std::string kFile3003 =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<ImportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.3\" FormatVersion=\"3003\"><SaleReports>"
    "<SaleReport OpeningDate=\"2020-03-02T08:00:00\" ClosingDate=\"2020-03-02T20:00:00\" ShiftNumber=\"15\" "
    "ShiftState=\"2\"><Checks><Check Date=\"2020-03-02T09:15:00\" Number=\"1\" TaxationSystem=\"1\" "
    "OperationType=\"1\"><Goods><Good Code=\"100101\" Quantity=\"1.000\" Price=\"150.00\" Sum=\"150.00\" "
    "TaxRate=\"20\" PaymentMethod=\"4\"/></Goods></Check></Checks></SaleReport></SaleReports></ImportData>\n";
const std::string kStub =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ImportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" "
    "FormatVersion=\"3000\" Processed=\"2020-03-02T21:00:00\"/>\n";
const std::string kGoods =
    "<Goods><Good Code=\"100101\" Quantity=\"1.000\" Price=\"150.00\" Sum=\"150.00\" TaxRate=\"20\" "
    "PaymentMethod=\"4\"/></Goods>";
const std::string kTare =
    "</SaleReports><AlcoholTareOpenings><AlcoholTareOpening Date=\"2020-03-02T10:00:00\" Number=\"7\"";
const std::string kTareRest =
    "><Goods><Good Code=\"100301\" Quantity=\"1\" AlcoholExciseStamp=\"x\"/></Goods></AlcoholTareOpening>"
    "</AlcoholTareOpenings>";

using Edits = std::vector<std::pair<std::string, std::string>>;

struct Row {
  std::string name;
  ImportDataFormat format;
  std::string text;  // "" when an edit found nothing to replace
  bool valid;
  std::string says;  // part of the check's line when invalid
};

// `text` with the first occurrence of each `from` replaced in turn.
std::string edited(std::string text, const Edits& edits) {
  for (const auto& [from, to] : edits) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) return "";
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<Row> rows() {
  const auto v30 = [](const char* name, Edits edits, bool valid, const char* says = "") {
    return Row{name, ImportDataFormat::v3000, edited(kFile3000, edits), valid, says};
  };
  const auto v33 = [](const char* name, Edits edits, bool valid, const char* says = "") {
    return Row{name, ImportDataFormat::v3003, edited(kFile3003, edits), valid, says};
  };
  std::string cyrillic36;
  for (int i = 0; i < 36; ++i) cyrillic36 += "Я";
  const auto same = Edits{};
  return {
      v30("as the program writes it", same, true),
      {"1C's processed stub", ImportDataFormat::v3000, kStub, true, ""},
      {"the demo's file", ImportDataFormat::v3000,
       readFileBytes(std::string(KKM_SOURCE_DIR) + "/tests/data/demo-ImportData.xml"), true, ""},
      {"no sales reports in SaleReports", ImportDataFormat::v3000,
       "<ImportData xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\" FormatVersion=\"3000\"><SaleReports/>"
       "</ImportData>",
       false, "SaleReport is missing"},
      // Numbers.
      v30("quantity and price at 15 digits", {{"Quantity=\"1.000\" Price=\"150.00\"",
                                               "Quantity=\"123456789012.345\" Price=\"9999999999999.99\""}},
          true),
      v30("signs, blanks and trailing zeros", {{"Quantity=\"1.000\"", "Quantity=\" +.50000 \""}}, true),
      v30("a trailing zero beyond 15 digits", {{"Price=\"150.00\"", "Price=\"12345678901234.50\""}}, true),
      v30("empty quantity", {{"Quantity=\"1.000\"", "Quantity=\"\""}}, false, "Quantity=\"\": not a decimal"),
      v30("quantity with a comma", {{"Quantity=\"1.000\"", "Quantity=\"1,500\""}}, false, "Quantity"),
      v30("quantity of 4 decimals", {{"Quantity=\"1.000\"", "Quantity=\"1.2345\""}}, false, "3 fraction digits"),
      v30("quantity as a JSON number", {{"Quantity=\"1.000\"", "Quantity=\"1e-3\""}}, false, "Quantity"),
      v30("quantity of 16 digits", {{"Quantity=\"1.000\"", "Quantity=\"1234567890123.456\""}}, false, "15 digits"),
      v30("price of 3 decimals", {{"Price=\"150.00\"", "Price=\"1.005\""}}, false, "Price"),
      v30("cash of 24 digits", {{"Cash=\"200.00\"", "Cash=\"123456789012345678901234\""}}, true),
      v30("cash of 25 digits", {{"Cash=\"200.00\"", "Cash=\"1234567890123456789012345\""}}, false, "24 digits"),
      v30("empty cash", {{"Cash=\"200.00\"", "Cash=\"\""}}, false, "Cash"),
      v30("income with 3 decimals", {{"Sum=\"1000.00\"", "Sum=\"1000.005\""}}, true),
      v30("payment method below 0", {{"PaymentMethod=\"4\"", "PaymentMethod=\"-1\""}}, false, "less than 0"),
      v30("operation type with a fraction", {{"OperationType=\"1\"", "OperationType=\"1.0\""}}, false,
          "OperationType"),
      v30("format version with leading zeros", {{"FormatVersion=\"3000\"", "FormatVersion=\"03000\""}}, true),
      v30("format version as text", {{"FormatVersion=\"3000\"", "FormatVersion=\"3.0.0.0\""}}, false,
          "FormatVersion"),
      v30("no format version", {{" FormatVersion=\"3000\"", ""}}, false, "FormatVersion is missing"),
      // Strings and enumerations.
      v30("a code of 36 Cyrillic letters", {{"Code=\"100101\"", "Code=\"" + cyrillic36 + "\""}}, true),
      v30("a code of 37 characters", {{"Code=\"100101\"", "Code=\"" + cyrillic36 + "1\""}}, false, "36 characters"),
      v30("an empty code", {{"Code=\"100101\"", "Code=\"\""}}, true),
      v30("a code beyond the basic plane", {{"Code=\"100101\"", "Code=\"\xF0\x9F\x98\x80\""}}, true),
      v30("movement in lower case", {{"Type=\"Income\"", "Type=\"income\""}}, false, "Type=\"income\""),
      v30("a UUID on the check", {{"OperationType=\"1\"", "OperationType=\"1\" UUID=\"0123abcd-4567-89AB-cdef-0123456789ab\""}},
          true),
      v30("a UUID in braces", {{"OperationType=\"1\"", "OperationType=\"1\" UUID=\"{0123abcd-4567-89AB-cdef-0123456789ab}\""}},
          false, "UUID"),
      v30("a refund as reference type", {{"OperationType=\"1\"", "OperationType=\"1\" RefDocumentType=\"Refund\""}},
          false, "RefDocumentType"),
      // Dates.
      v30("empty date", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"\""}}, false, "Check[1]: attribute Date=\"\""),
      v30("a date with a blank", {{"Date=\"2020-03-02T09:15:00\"", "Date=\" 2020-03-02T09:15:00\""}}, false, "Date"),
      v30("the service's zone form", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"2020-03-02T09:15:00+0300\""}}, false,
          "Date"),
      v30("a fraction and a zone", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"2020-03-02T09:15:00.5+03:00\""}}, true),
      v30("the end of a leap day", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"2020-02-29T24:00:00\""}}, true),
      v30("29 February of a common year", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"2021-02-29T09:15:00\""}}, false,
          "no such day"),
      v30("a second past midnight", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"2020-03-02T24:00:01\""}}, false,
          "time of day"),
      v30("a zone beyond 14 hours", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"2020-03-02T09:15:00+14:30\""}}, false,
          "14:00"),
      v30("year 0", {{"Date=\"2020-03-02T09:15:00\"", "Date=\"0000-03-02T09:15:00\""}}, false, "year 0"),
      v30("processed without the T", {{"FormatVersion=\"3000\"", "FormatVersion=\"3000\" Processed=\"2020-03-02 21:00:00\""}},
          false, "Processed"),
      // Elements and their order.
      v30("no shift state", {{"<ShiftState>2</ShiftState>", ""}}, false, "ShiftState is missing"),
      v30("shift state +02 with a comment", {{"<ShiftState>2<", "<ShiftState>+02<!-- loaded --><"}}, true),
      v30("shift state 3", {{"<ShiftState>2<", "<ShiftState>3<"}}, false, "not 1 or 2"),
      v30("empty shift state", {{"<ShiftState>2<", "<ShiftState><"}}, false, "ShiftState"),
      v30("shift state before the checks", {{"<Checks>", "<ShiftState>2</ShiftState><Checks>"}}, false,
          "Checks is not expected"),
      v30("two Checks elements", {{"</Checks>", "</Checks><Checks></Checks>"}}, false, "Checks"),
      v30("Payments without a Payment", {{"<Payment Cash=\"200.00\" ElectronicPayment=\"0.00\" PrePayment=\"0.00\" "
                                          "PostPayment=\"0.00\" Barter=\"0.00\"/>",
                                          ""}},
          false, "Payment is missing"),
      v30("a payment without barter", {{" Barter=\"0.00\"", ""}}, false, "Barter is missing"),
      v30("IncomeOutcomeChecks without a check",
          {{"<IncomeOutcomeCheck Date=\"2020-03-02T08:05:00\" Type=\"Income\" Number=\"3\" Sum=\"1000.00\"/>", ""}},
          false, "IncomeOutcomeCheck is missing"),
      v30("an element the schema lacks", {{"</Payments>", "</Payments><Discounts/>"}}, false, "Discounts"),
      v30("an attribute the schema lacks", {{"PaymentMethod=\"4\"", "PaymentMethod=\"4\" Name=\"x\""}}, false,
          "Name=\"x\" is not allowed"),
      v30("text among the checks", {{"</Check>", "</Check>x"}}, false, "text \"x\""),
      v30("blanks inside a good", {{"PaymentMethod=\"4\"/>", "PaymentMethod=\"4\"> </Good>"}}, false,
          "no content"),
      v30("a comment inside a good", {{"PaymentMethod=\"4\"/>", "PaymentMethod=\"4\"><!-- x --></Good>"}}, true),
      v30("blanks around a comment inside a good", {{"PaymentMethod=\"4\"/>", "PaymentMethod=\"4\"> <!-- x --> </Good>"}},
          false, "no content"),
      v30("alcohol tare openings after the reports", {{"</SaleReports>", kTare + kTareRest}}, true),
      v30("a tare opening's NumberDoc, which only 3.0.0.3 has", {{"</SaleReports>", kTare + " NumberDoc=\"1\"" + kTareRest}},
          false, "NumberDoc"),
      // Namespaces and the xsi attributes.
      v30("no namespace", {{" xmlns=\"http://www.1c.ru/EquipmentService/3.0.0.0\"", ""}}, false, "namespace"),
      v30("format 3.0.0.3's namespace", {{"EquipmentService/3.0.0.0", "EquipmentService/3.0.0.3"}}, false,
          "namespace"),
      v30("the namespace under another prefix",
          {{"<ShiftState>2</ShiftState>",
            "<p:ShiftState xmlns:p=\"http://www.1c.ru/EquipmentService/3.0.0.0\">2</p:ShiftState>"}},
          true),
      v30("an undeclared prefix", {{"<ShiftState>2</ShiftState>", "<p:ShiftState>2</p:ShiftState>"}}, false, "prefix"),
      v30("xml:lang on the root", {{"FormatVersion=\"3000\"", "FormatVersion=\"3000\" xml:lang=\"ru\""}}, false,
          "xml:lang"),
      v30("xsi:schemaLocation on the root",
          {{"FormatVersion=\"3000\"", "FormatVersion=\"3000\" xsi:schemaLocation=\"urn:a b.xsd\""}}, true),
      v30("xsi:type", {{"OperationType=\"1\"", "OperationType=\"1\" xsi:type=\"x\""}}, false, "xsi:type"),
      v30("goods nil", {{kGoods, "<Goods xsi:nil=\"true\"/>"}}, true),
      v30("goods nil with a good inside", {{"<Goods><Good", "<Goods xsi:nil=\"true\"><Good"}}, false, "content"),
      v30("nil where the schema allows none", {{"<Checks>", "<Checks xsi:nil=\"false\">"}}, false, "not nillable"),
      // Characters.
      v30("a control byte in a code", {{"Code=\"100101\"", "Code=\"100\x01\""}}, false, "U+0001"),
      v30("a reference to a control byte", {{"Code=\"100101\"", "Code=\"100&#1;\""}}, false, "&#1;"),
      v30("tab, line feed and carriage return by reference", {{"Number=\"1\"", "Number=\"&#9;&#10;&#13;1\""}}, true),
      v30("bytes that are not UTF-8", {{"Code=\"100101\"", "Code=\"\xFF\""}}, false, "not UTF-8"),
      v30("U+FFFE", {{"Code=\"100101\"", "Code=\"\xEF\xBF\xBE\""}}, false, "U+FFFE"),
      v30("a bare ampersand", {{"Number=\"1\"", "Number=\"R&D\""}}, false, "'&'"),
      v30("an escaped ampersand", {{"Number=\"1\"", "Number=\"R&amp;D\""}}, true),
      v30("'<' in an attribute value", {{"Number=\"1\"", "Number=\"<1\""}}, false, "'<'"),
      v30("a second root", {{"</ImportData>", "</ImportData><ImportData FormatVersion=\"3000\"/>"}}, false, "root"),
      v30("text after the root", {{"</ImportData>", "</ImportData>x"}}, false, "not XML"),
      // Format 3.0.0.3.
      v33("as the program would write format 3.0.0.3", same, true),
      v33("no closing date", {{" ClosingDate=\"2020-03-02T20:00:00\"", ""}}, true),
      v33("no shift state", {{" ShiftState=\"2\"", ""}}, false, "ShiftState is missing"),
      v33("shift state 0", {{" ShiftState=\"2\"", " ShiftState=\"0\""}}, false, "not 1 or 2"),
      v33("shift state as an element too", {{"</Checks>", "</Checks><ShiftState>2</ShiftState>"}}, false,
          "ShiftState is not expected"),
      v33("excise stamps of a good",
          {{"PaymentMethod=\"4\"/>",
            "PaymentMethod=\"4\"><ExciseStamps><ExciseStamp>0104600000000000</ExciseStamp></ExciseStamps></Good>"}},
          true),
      v33("a check good's AlcoholExciseStamp", {{"PaymentMethod=\"4\"", "PaymentMethod=\"4\" AlcoholExciseStamp=\"x\""}},
          false, "AlcoholExciseStamp"),
      v33("a tare opening's NumberDoc", {{"</SaleReports>", kTare + " NumberDoc=\"1\"" + kTareRest}}, true),
      {"a format 3.0 file", ImportDataFormat::v3003, kFile3000, false, "namespace"},
      {"1C's processed stub, which names format 3.0", ImportDataFormat::v3003, kStub, false, "namespace"},
  };
}

TEST(ImportDataSchemaCheck, AgreesWithXmllint) {
  const std::vector<Row> table = rows();
  ScopedTempDir dir;
  std::string files[2];  // the file names for each format's xmllint call
  for (std::size_t i = 0; i < table.size(); ++i) {
    ASSERT_FALSE(table[i].text.empty()) << table[i].name << ": an edit found nothing to replace";
    writeFileBytes(dir.file(std::to_string(i) + ".xml"), table[i].text);
    files[table[i].format == ImportDataFormat::v3003] += " '" + dir.file(std::to_string(i) + ".xml") + "'";
  }
  // One xmllint per schema; it says "<file> validates" for each valid file.
  std::string said;
  const char* const schemas[2] = {"EquipmentService_3_0_0_0.xsd", "EquipmentService_3_0_0_3.xsd"};
  for (int f = 0; f < 2; ++f) {
    const std::string out = dir.file("xmllint" + std::to_string(f) + ".txt");
    std::system(("xmllint --noout --schema '" + std::string(KKM_SOURCE_DIR) + "/schema/" + schemas[f] + "'" +
                 files[f] + " >'" + out + "' 2>&1")
                    .c_str());
    said += readFileBytes(out);
  }
  ASSERT_NE(std::string::npos, said.find(" validates\n")) << "xmllint could not be run: " << said;

  for (std::size_t i = 0; i < table.size(); ++i) {
    const Row& row = table[i];
    SCOPED_TRACE(row.name);
    const bool xmllintAccepts = said.find(dir.file(std::to_string(i) + ".xml") + " validates\n") != std::string::npos;
    const std::string violation = kkmtest::importDataSchemaViolation(row.text, row.format);
    EXPECT_EQ(row.valid, xmllintAccepts) << said;
    EXPECT_EQ(row.valid, violation.empty()) << violation;
    if (!row.valid) {
      EXPECT_NE(std::string::npos, violation.find(row.says)) << violation;
      EXPECT_EQ(std::string::npos, violation.find('\n')) << violation;
    }
  }
}

}  // namespace
