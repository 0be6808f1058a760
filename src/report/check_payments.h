// The Payments element of a check: its sums by means of payment.
#pragma once

#include <tinyxml2.h>

#include <string_view>

#include "report/value_rules.h"

// Adds Payments under `checkElement`. The sums are Cash (t1031),
// ElectronicPayment (t1081), PrePayment (t1215), PostPayment (t1216) and
// Barter (t1217), each as money, "0.00" when the body lacks the tag. 1C reads
// one means of payment per Payment element (Cash when it is not zero, else
// ElectronicPayment), so every means with a sum that is not zero gets a
// Payment of its own, in that order, with "0.00" for the other four; a check
// with no such sum gets one Payment holding the five sums as read.
void processCheckPayments(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* checkElement, std::string_view docBody,
                          ValueNotes& notes);
