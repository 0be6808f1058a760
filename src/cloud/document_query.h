// The document query: one cash register's fiscal documents of some kinds in
// a date range.
#pragma once

#include <string>
#include <string_view>

// Asks the service for the documents of the register kkmNum whose kind is in
// `kinds` (a comma-separated list such as "2,5" or "129, 130") and whose date
// lies in [dateFrom, dateTo], sorted by number. Returns the content of the
// answer's "kkmDocs" array: document objects each beginning {"id":, separated
// by commas; "" when the answer holds no such array. When the service gave
// no complete answer with an HTTP status below 400 that is a JSON object,
// `error` names the query and the reason and the result must not be used;
// otherwise `error` is empty.
std::string getAllDocsByKind(const std::string& dateFrom, const std::string& dateTo, const std::string& kinds,
                             std::string& error);

// The text after "kkmDocs":[ up to the answer's last three characters (the
// array's ] and two closing braces); "" without the marker.
std::string extractKkmDocs(std::string_view answer);
