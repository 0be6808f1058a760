// The configuration file: one XML file whose values are attributes of
// config/basicparams/param and config/importparams/import. At each level the
// first element of the name counts; everything else is kept on write-back.
#pragma once

#include <tinyxml2.h>

#include <string>
#include <string_view>
#include <vector>

#include "files/text_file.h"

// The configuration file as this run read it, once: its bytes and the
// document parsed from them. Every reader below takes its values from it,
// so that one run sees one file; only a rewrite reads the file afresh.
struct Configuration {
  std::string fileName;
  FileRead file;
  tinyxml2::XMLDocument document;

  // config/basicparams/param and config/importparams/import (the first of
  // each name), null when the file has none.
  const tinyxml2::XMLElement* param() const;
  const tinyxml2::XMLElement* import() const;
};

// Reads `configFileName` into `configuration` and parses it. The password it
// holds goes into the mask of every output before anything is printed.
void readConfiguration(const std::string& configFileName, Configuration& configuration);

// Reads login, password, basicURL, debugmode, caFile, sslVerify, runLog and
// stallHours from config/basicparams/param, tracing its steps on standard
// output (the file's text is shown with every password value replaced by
// ***). Returns true when the param element was found and read; otherwise
// the settings keep their values. A missing attribute reads as the empty
// text; a file that is there but cannot be read is said on standard error.
bool readInitialPreferences(const Configuration& configuration);

// Reads lastDocDT, kkmNum and formatVersion (kDefaultFormatVersion when the
// attribute is absent) from config/importparams/import. Returns true when
// the element was found; otherwise the settings keep their values.
bool readImportParams(const Configuration& configuration);

// One attribute of config/importparams/import to set to `value` (in place
// when it exists, else as the element's last attribute) or to remove.
struct AttributeChange {
  std::string name;
  std::string value;
  bool remove = false;
};

// Applies `changes` to config/importparams/import of the file as it is now,
// keeping everything else in it, and replaces the file atomically. Returns
// false, leaving the file byte for byte as it was and `error` saying why
// (and, when lastDocDT is among the changes, that it cannot be stored), when
// the file cannot be read, has no such element, would read back
// differently, or cannot be written.
bool updateImportElement(const std::string& configFileName, const std::vector<AttributeChange>& changes,
                         std::string& error);

// Stores `lastDate` as the lastDocDT attribute of config/importparams/import
// through updateImportElement. An empty `lastDate` is refused. The setting
// lastDocDT in memory is not changed.
bool saveLastShiftCloseDate(const std::string& lastDate, const std::string& configFileName, std::string& error);

// The record of an import's commit that is under way, kept on
// config/importparams/import between storing the new lastDocDT and
// clearing the record after the exchange file is in place: the temporary
// file that becomes the exchange file (a name in the exchange file's
// folder), lastDocDT before the commit, and what the exchange file held
// before it (fileFingerprint, "" when there was none).
inline constexpr const char* kPendingFileAttribute = "pendingFile";
inline constexpr const char* kPendingPreviousDocDTAttribute = "pendingPreviousDocDT";
inline constexpr const char* kPendingPreviousFileAttribute = "pendingPreviousFile";

struct PendingCommit {
  std::string file;
  std::string previousDocDT;
  std::string previousFile;

  bool present() const { return !file.empty(); }
};

// The record on config/importparams/import (empty when there is none).
// False when the file has no such element.
bool readPendingCommit(const Configuration& configuration, PendingCommit& record);

// `xmlText` with the value of every attribute named password replaced by ***.
std::string maskPasswords(std::string_view xmlText);
