// Name-based UUIDs (RFC 4122 version 5): the same namespace and name give
// the same UUID on every machine and in every run.
#pragma once

#include <string>
#include <string_view>

// The version-5 UUID of `name` (bytes as they stand) under the namespace
// UUID `namespaceUuid` (8-4-4-4-12 hex form), in lower-case 8-4-4-4-12 form;
// "" when `namespaceUuid` is no UUID or no SHA-1 can be had.
std::string nameBasedUuid(std::string_view namespaceUuid, std::string_view name);
