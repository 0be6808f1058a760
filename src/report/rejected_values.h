// Values in a finished ImportData document that 1C's format rejects although
// they are what the documents gave (a missing date, a quantity that is no
// number): found so that the user can be told why 1C refuses the file.
#pragma once

#include <tinyxml2.h>

#include <string>
#include <vector>

// One line per shift, check or income/outcome check of `saleReport` holding
// such a value, appended to `lines`: it names the shift (its number and
// dates), the check (its place in the shift and its number) and the values.
void listRejectedValuesOfShift(const tinyxml2::XMLElement& saleReport, std::vector<std::string>& lines);
