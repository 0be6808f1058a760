// The one mask every output of the program goes through: standard output,
// standard error (a quoted service answer included), the run log, the debug
// logs and dumps, and libcurl's trace. It holds every spelling of every
// secret of the run and writes *** wherever one stands.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Adds `spelling` to the secrets masked from now on (ignored when empty).
void addSecret(std::string_view spelling);

// Adds the password in every spelling it can take in an output: as
// configured, as the configuration's XML escapes it, and percent-encoded as
// the login address carries it.
void addPasswordSecret(std::string_view password);

// Forgets every secret (a new run in the same process).
void clearSecrets();

// `text` with every secret replaced by ***; where two secrets begin at the
// same place the longer one is masked.
std::string maskSecrets(std::string_view text);

// Whether any secret stands in `text`.
bool containsSecret(std::string_view text);

// Writes `text` to `out` with every secret replaced by ***, piece by piece
// (a dump can be hundreds of megabytes: it is not copied).
void writeMasked(std::FILE* out, std::string_view text);

// `value` as an XML printer escapes it in an attribute.
std::string xmlAttributeEscaped(std::string_view value);
