// The document query: one cash register's fiscal documents of some kinds in
// a date range.
#pragma once

#include <string>
#include <string_view>

// Asks the service for the documents of the register kkmNum whose kind is in
// `kinds` (a comma-separated list such as "2,5" or "129, 130") and whose date
// lies in [dateFrom, dateTo], sorted by number. Returns the content of the
// answer's "kkmDocs" array: document objects each beginning {"id":, separated
// by commas ("" for an empty array). The query succeeds only with HTTP 2xx
// and a complete answer: one well-formed JSON value holding a member
// "kkmDocs" whose value is an array (at any depth; other members may follow
// it). Otherwise `error` names the query and the reason, quoting the
// answer's first 100 bytes, and "" is returned; on success `error` is empty.
std::string getAllDocsByKind(const std::string& dateFrom, const std::string& dateTo, const std::string& kinds,
                             std::string& error);

// Finds the content of the "kkmDocs" array of a complete answer, as
// getAllDocsByKind wants it, as a view into `answer`. False, with `reason`
// set, for an answer that is no well-formed JSON or holds no such array.
bool findKkmDocs(std::string_view answer, std::string_view& docs, std::string& reason);

// The content of the "kkmDocs" array of a complete answer, as
// getAllDocsByKind finds it; "" for an answer that is not complete.
std::string extractKkmDocs(std::string_view answer);
