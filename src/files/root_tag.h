// The root element of an XML text or file as its start tag alone tells it:
// enough to know what a file is (its root's name, namespace, a stamp) without
// reading, let alone parsing, a catalogue that may run to many megabytes.
#pragma once

#include <tinyxml2.h>

#include <cstddef>
#include <string>
#include <string_view>

// Where the start tag of the root element of `xml` (the first tag that is no
// declaration, processing instruction, comment or document type) stands:
// `start` at its '<', `end` at the '>' that closes it (outside any quoted
// value). False when there is no complete start tag.
bool findRootStartTag(std::string_view xml, std::size_t& start, std::size_t& end);

// Parses the start tag of the root element of `xml` (the first tag that is
// no declaration, processing instruction, comment or document type) on its
// own, closed as an empty element, into `doc`, and returns that element;
// null when there is no complete start tag or it does not parse.
const tinyxml2::XMLElement* parseRootStartTag(std::string_view xml, tinyxml2::XMLDocument& doc);

// The same for the first `maxBytes` bytes of the file at `path`; null also
// when the file is missing or cannot be read.
const tinyxml2::XMLElement* readRootStartTag(const std::string& path, tinyxml2::XMLDocument& doc,
                                             std::size_t maxBytes = 64 * 1024);
