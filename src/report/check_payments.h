// The Payments element of a check: its sums by means of payment.
#pragma once

#include <tinyxml2.h>

#include <string_view>

#include "report/value_rules.h"

// Adds Payments under `checkElement` with one Payment holding Cash (t1031),
// ElectronicPayment (t1081), PrePayment (t1215), PostPayment (t1216) and
// Barter (t1217), each as money, "0.00" when the body lacks the tag.
void processCheckPayments(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement, std::string_view docBody,
                          ValueNotes& notes);
