#include "config/config_file.h"

#include <tinyxml2.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "config/settings.h"
#include "files/atomic_file.h"
#include "files/messages.h"
#include "files/secret_mask.h"
#include "files/text_file.h"
#include "platform/platform.h"
#include "text/utf8.h"

namespace {

std::string attributeText(const tinyxml2::XMLElement* element, const char* name) {
  const char* value = element->Attribute(name);
  return value ? std::string(value) : std::string();
}

// A path attribute of `element`. The file is UTF-8, as its declaration says;
// a value written in another code page (a file saved as windows-1251, as
// was once advised) is still read, in the system's legacy code page, with a
// warning that names the attribute.
std::string pathAttribute(const tinyxml2::XMLElement* element, const char* name, const std::string& configFileName) {
  const std::string value = attributeText(element, name);
  if (isValidUtf8(value)) return value;
  std::string codePage;
  const std::string converted = platform::legacyTextToUtf8(value, codePage);
  const std::string where = std::string("the ") + name + " attribute in " + configFileName + " is not UTF-8";
  if (codePage.empty()) {
    printWarning(where + "; its bytes are taken as the file name");
    return value;
  }
  printWarning(where + "; read in the ANSI code page " + codePage + " (save the file as UTF-8)");
  return converted.empty() ? value : converted;
}

// The line end of the file's first line: CR LF or LF.
std::string_view lineEndOf(std::string_view bytes) {
  const std::size_t lf = bytes.find('\n');
  return lf != std::string_view::npos && lf > 0 && bytes[lf - 1] == '\r' ? "\r\n" : "\n";
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The printer's text in the shape of the file it replaces: its byte-order
// mark kept, its line ends CR LF when it had them, so that an admin's editor
// shows the same file.
std::string inShapeOf(std::string_view original, const std::string& printed) {
  std::string out;
  if (original.substr(0, kByteOrderMark.size()) == kByteOrderMark) out.append(kByteOrderMark);
  const std::string_view lineEnd = lineEndOf(original);
  if (lineEnd == "\n") return out + printed;
  out.reserve(out.size() + printed.size() + printed.size() / 16);
  for (const char c : printed) {
    if (c == '\n')
      out.append(lineEnd);
    else
      out += c;
  }
  return out;
}

// The decimal number at the start of `text` (white space, optional sign,
// digits; the rest ignored). 0 when there is none or it does not fit an int.
int leadingInt(const char* text) {
  if (text == nullptr) return 0;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return 0;
  }
  if (negative) value = -value;
  return value > INT_MAX || value < INT_MIN ? 0 : static_cast<int>(value);
}

// The first element config/`section`/`leaf` of `doc`, null when there is none.
template <typename Document>
auto findPath(Document& doc, const char* section, const char* leaf) -> decltype(doc.FirstChildElement()) {
  auto* config = doc.FirstChildElement("config");
  if (config == nullptr) return nullptr;
  auto* middle = config->FirstChildElement(section);
  return middle ? middle->FirstChildElement(leaf) : nullptr;
}

// Why `newText`, read back the way the configuration is read, would not give
// the param and import elements of `doc` attribute for attribute; "" when it
// reads the same. The printer writes some values in a form that does not
// read back (a line break inside a value, whose line end reading drops; text
// that it took from behind the root element), and the program must never
// write a configuration that it then reads differently.
std::string readBackMismatch(tinyxml2::XMLDocument& doc, const std::string& newText) {
  tinyxml2::XMLDocument back;
  back.Parse(textAsRead(newText).c_str());
  static constexpr const char* kPaths[][2] = {{"basicparams", "param"}, {"importparams", "import"}};
  for (const auto& path : kPaths) {
    const tinyxml2::XMLElement* before = findPath(doc, path[0], path[1]);
    if (before == nullptr) continue;
    const std::string name = std::string("config/") + path[0] + "/" + path[1];
    const tinyxml2::XMLElement* after = findPath(back, path[0], path[1]);
    if (after == nullptr) return name + " would no longer be found";
    const tinyxml2::XMLAttribute* a = before->FirstAttribute();
    const tinyxml2::XMLAttribute* b = after->FirstAttribute();
    for (; a != nullptr && b != nullptr; a = a->Next(), b = b->Next()) {
      if (std::strcmp(a->Name(), b->Name()) != 0 || std::strcmp(a->Value(), b->Value()) != 0)
        return std::string("the attribute ") + a->Name() + " of " + name + " would read differently";
    }
    if (a != nullptr || b != nullptr) return "the attributes of " + name + " would read differently";
  }
  return "";
}

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The stallHours attribute: a whole number of hours, 0 for never; absent,
// kDefaultStallHours. Any other value is named on standard error and the
// default used.
int stallHoursOf(const tinyxml2::XMLElement* param, const std::string& configFileName) {
  const char* value = param->Attribute("stallHours");
  if (value == nullptr) return kDefaultStallHours;
  const std::string text = value;
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isXmlSpace(text[begin])) ++begin;
  while (end > begin && isXmlSpace(text[end - 1])) --end;
  long long hours = 0;
  bool digits = begin < end;
  for (std::size_t i = begin; i < end && digits; ++i) {
    digits = text[i] >= '0' && text[i] <= '9' && hours < 1000000;
    if (digits) hours = hours * 10 + (text[i] - '0');
  }
  if (!digits) {
    printWarning("stallHours=\"" + text + "\" on config/basicparams/param in " + configFileName +
                 " is no whole number of hours; " + std::to_string(kDefaultStallHours) + " is used");
    return kDefaultStallHours;
  }
  return static_cast<int>(hours);
}

}  // namespace

std::string maskPasswords(std::string_view xmlText) {
  static constexpr std::string_view kName = "password";
  std::string out;
  out.reserve(xmlText.size());
  std::size_t copied = 0;
  std::size_t pos = 0;
  while ((pos = xmlText.find(kName, pos)) != std::string_view::npos) {
    const std::size_t nameEnd = pos + kName.size();
    // Only an attribute of exactly this name: white space or the previous
    // value's closing quote in front (lines are joined without a blank),
    // '=' after.
    const bool ownName = pos > 0 && (isXmlSpace(xmlText[pos - 1]) || xmlText[pos - 1] == '"' || xmlText[pos - 1] == '\'');
    std::size_t i = nameEnd;
    while (i < xmlText.size() && isXmlSpace(xmlText[i])) ++i;
    if (!ownName || i >= xmlText.size() || xmlText[i] != '=') {
      pos = nameEnd;
      continue;
    }
    ++i;
    while (i < xmlText.size() && isXmlSpace(xmlText[i])) ++i;
    if (i >= xmlText.size() || (xmlText[i] != '"' && xmlText[i] != '\'')) {
      pos = nameEnd;
      continue;
    }
    const std::size_t valueStart = i + 1;
    std::size_t valueEnd = xmlText.find(xmlText[i], valueStart);
    if (valueEnd == std::string_view::npos) valueEnd = xmlText.size();  // unterminated: hide the rest
    out.append(xmlText.substr(copied, valueStart - copied)).append("***");
    copied = valueEnd;
    pos = valueEnd;
  }
  out.append(xmlText.substr(copied));
  return out;
}

const tinyxml2::XMLElement* Configuration::param() const { return findPath(document, "basicparams", "param"); }
const tinyxml2::XMLElement* Configuration::import() const { return findPath(document, "importparams", "import"); }

void readConfiguration(const std::string& configFileName, Configuration& configuration) {
  configuration.fileName = configFileName;
  configuration.file = readTextFile(configFileName);
  configuration.document.Parse(configuration.file.text.c_str());
  // The password, as no output may show it, is masked before anything is printed.
  const tinyxml2::XMLElement* param = configuration.param();
  const char* secret = param ? param->Attribute("password") : nullptr;
  if (secret != nullptr) addPasswordSecret(secret);
}

bool readInitialPreferences(const Configuration& configuration) {
  const std::string& configFileName = configuration.fileName;
  printLine(" readInitialPreferences filePath= " + configFileName);
  if (configuration.file.status == FileStatus::kFailed)
    printError("cannot read configuration file " + configFileName + ": " + configuration.file.reason);
  printLine(" readInitialPreferences xmlConfig " + maskPasswords(configuration.file.text));
  printLine(" readInitialPreferences ");
  const tinyxml2::XMLElement* config = configuration.document.FirstChildElement("config");
  if (config == nullptr) return false;
  printLine(" config ");
  const tinyxml2::XMLElement* param = configuration.param();
  if (param == nullptr) return false;
  printLine(" basicparams ");

  login = attributeText(param, "login");
  password = attributeText(param, "password");
  basicURL = attributeText(param, "basicURL");
  debugmode = leadingInt(param->Attribute("debugmode"));
  caFile = pathAttribute(param, "caFile", configFileName);
  const char* verify = param->Attribute("sslVerify");
  sslVerify = verify == nullptr || std::string(verify) != "0";
  runLog = pathAttribute(param, "runLog", configFileName);
  stallHours = stallHoursOf(param, configFileName);

  if (debugmode == 1) {
    printLine(" readInitialPreferences login " + login);
    printLine(" password ***");
    printLine(" basicURL " + basicURL);
  }
  return true;
}

bool readImportParams(const Configuration& configuration) {
  const tinyxml2::XMLElement* import = configuration.import();
  if (import == nullptr) return false;
  lastDocDT = attributeText(import, "lastDocDT");
  kkmNum = attributeText(import, "kkmNum");
  const char* format = import->Attribute("formatVersion");
  formatVersion = format ? format : kDefaultFormatVersion;
  if (debugmode == 1) {
    printLine(" readImportParams lastDocDT " + lastDocDT);
    printLine(" kkmNum " + kkmNum);
  }
  return true;
}

bool readPendingCommit(const Configuration& configuration, PendingCommit& record) {
  const tinyxml2::XMLElement* import = configuration.import();
  if (import == nullptr) return false;
  record.file = attributeText(import, kPendingFileAttribute);
  record.previousDocDT = attributeText(import, kPendingPreviousDocDTAttribute);
  record.previousFile = attributeText(import, kPendingPreviousFileAttribute);
  return true;
}

bool updateImportElement(const std::string& configFileName, const std::vector<AttributeChange>& changes,
                         std::string& error) {
  // The error lines say that lastDocDT cannot be stored only when it is stored.
  bool storesLastDocDT = false;
  for (const AttributeChange& change : changes) storesLastDocDT |= change.name == "lastDocDT" && !change.remove;
  const std::string cannot =
      (storesLastDocDT ? "cannot store lastDocDT in " : "cannot change config/importparams/import in ") +
      configFileName + ": ";
  tinyxml2::XMLDocument doc;
  const FileRead file = readFile(configFileName);
  if (!file.found()) {
    error = cannot +
            (file.status == FileStatus::kFailed ? file.reason : std::string("the file is missing"));
    return false;
  }
  doc.Parse(textAsRead(file.text).c_str());
  tinyxml2::XMLElement* import = findPath(doc, "importparams", "import");
  if (import == nullptr) {
    error = cannot + (doc.Error() ? "the file is not XML" : "it has no config/importparams/import element");
    return false;
  }
  for (const AttributeChange& change : changes) {
    if (change.remove)
      import->DeleteAttribute(change.name.c_str());
    else
      import->SetAttribute(change.name.c_str(), change.value.c_str());
  }
  tinyxml2::XMLPrinter printer(nullptr, false);  // the layout SaveFile writes
  doc.Print(&printer);
  const std::string newText =
      inShapeOf(file.text, std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1)));
  const std::string mismatch = readBackMismatch(doc, newText);
  if (!mismatch.empty()) {
    error = cannot + "written back, " + mismatch +
            " (check the file for line breaks inside values and for text after </config>); left as it is";
    return false;
  }
  if (!writeFileAtomically(configFileName, newText, error)) {
    error = "cannot write configuration file " + configFileName + ": " + error;
    return false;
  }
  return true;
}

bool saveLastShiftCloseDate(const std::string& lastDate, const std::string& configFileName, std::string& error) {
  if (lastDate.empty()) {
    error = "cannot store an empty lastDocDT in " + configFileName;
    return false;
  }
  return updateImportElement(configFileName, {{"lastDocDT", lastDate, false}}, error);
}
