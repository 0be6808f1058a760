// The configuration reader on arbitrary bytes: readInitialPreferences,
// readImportParams and, when the file has the import element, the rewrite
// of lastDocDT. Properties: the password never shows in the trace; a stored
// lastDocDT reads back as stored; the rewrite keeps every other setting.
#include <cstdint>
#include <string>

#include "config/config_file.h"
#include "config/settings.h"
#include "fuzz_support.h"

namespace {

// The basic settings or the import settings of the file at `path`, read as a run reads them.
bool readBasic(const std::string& path) {
  Configuration configuration;
  readConfiguration(path, configuration);
  return readInitialPreferences(configuration);
}
bool readImport(const std::string& path) {
  Configuration configuration;
  readConfiguration(path, configuration);
  return readImportParams(configuration);
}

struct BasicSettings {
  std::string login, password, basicURL, caFile;
  int debugmode = 0;
  bool sslVerify = true;
  bool found = false;

  static BasicSettings read(const std::string& path) {
    BasicSettings s;
    resetSettings();
    s.found = readBasic(path);
    s.login = ::login;
    s.password = ::password;
    s.basicURL = ::basicURL;
    s.caFile = ::caFile;
    s.debugmode = ::debugmode;
    s.sslVerify = ::sslVerify;
    return s;
  }
  bool operator==(const BasicSettings& o) const {
    return login == o.login && password == o.password && basicURL == o.basicURL && caFile == o.caFile &&
           debugmode == o.debugmode && sslVerify == o.sslVerify && found == o.found;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::scratchFile("config.xml");
  fuzz::writeBytes(path, data, size);

  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string masked = maskPasswords(text);
  FUZZ_CHECK(masked.size() <= text.size() + 3 * (text.size() / 8 + 1), "masking grew the text beyond its *** marks");

  const BasicSettings before = BasicSettings::read(path);
  resetSettings();
  if (!readImport(path)) return 0;
  const std::string kkm = kkmNum;

  static const std::string kStored = "2020-03-02T18:30:05.000+0300";
  std::string error;
  if (!saveLastShiftCloseDate(kStored, path, error)) return 0;
  resetSettings();
  FUZZ_CHECK(readImport(path), "the rewritten file lost its import element");
  FUZZ_CHECK(lastDocDT == kStored, "lastDocDT reads back as '" + lastDocDT + "'");
  FUZZ_CHECK(kkmNum == kkm, "kkmNum changed in the rewrite: '" + kkm + "' -> '" + kkmNum + "'");
  FUZZ_CHECK(BasicSettings::read(path) == before, "the rewrite changed the basic settings");
  return 0;
}
