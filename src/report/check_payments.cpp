#include "report/check_payments.h"

#include <string>

#include "report/xml_elements.h"
#include "text/json_scanner.h"

namespace {

struct Means {
  const char* attribute;
  const char* tag;
};

constexpr Means kMeans[] = {
    {"Cash", "t1031"}, {"ElectronicPayment", "t1081"}, {"PrePayment", "t1215"}, {"PostPayment", "t1216"}, {"Barter", "t1217"},
};
constexpr std::size_t kMeansCount = sizeof kMeans / sizeof kMeans[0];

// A Payment with the five sums `sums` in the order of kMeans.
void addPayment(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* payments, const std::string (&sums)[kMeansCount]) {
  tinyxml2::XMLElement* payment = addElementWithAttribute(doc, payments, "Payment", kMeans[0].attribute, sums[0]);
  for (std::size_t i = 1; i < kMeansCount; ++i) payment->SetAttribute(kMeans[i].attribute, sums[i].c_str());
}

}  // namespace

void processCheckPayments(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement, std::string_view docBody,
                          ValueNotes& notes) {
  tinyxml2::XMLElement* payments = addElementWithText(doc, checkElement, "Payments", "");
  std::string sums[kMeansCount];
  for (std::size_t i = 0; i < kMeansCount; ++i)
    sums[i] = moneyValue(getTagValueFromBodyJSON(docBody, kMeans[i].tag), kMeans[i].attribute, kMaxDecimalDigits, notes);
  bool any = false;
  for (std::size_t i = 0; i < kMeansCount; ++i) {
    if (isZeroSum(sums[i])) continue;
    any = true;
    std::string one[kMeansCount] = {"0.00", "0.00", "0.00", "0.00", "0.00"};
    one[i] = sums[i];
    addPayment(doc, payments, one);
  }
  if (!any) addPayment(doc, payments, sums);
}
