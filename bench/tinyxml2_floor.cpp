// The library floor: only tinyxml2's share of an import or an export, timed
// from the inside so that nothing but that share is counted.
//
//   kkm_tinyxml2_floor import IMPORTDATA_FILE OUT_FILE
//     Reads an ImportData file that kkmbridge wrote and keeps its elements,
//     attributes and texts as plain strings in memory. Then, timed: builds the
//     same document with the same tinyxml2 calls the import makes (one text
//     node as the first child of every element the import gives one) and
//     prints it, indented, into OUT_FILE. The result must equal the input byte
//     for byte; the driver checks that.
//
//   kkm_tinyxml2_floor export GOODS_FILE OUT_FILE
//     Timed: loads the goods file, sets Processed on its root and saves it,
//     indented, into OUT_FILE.
//
// Prints one line on stdout:
//   seconds=S cpu_seconds=C release_seconds=R input_rss_kb=K
// S and C cover the timed part (wall and user+sys CPU); R is the time taken
// to free the document afterwards (not part of S); K is the resident size
// before the timed part (the values held in memory). Exit code 0, or 1 with
// a message on stderr.
#include <sys/resource.h>
#include <tinyxml2.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long residentKb() {
  long pages = 0, resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  const int got = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  return got == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

class Stopwatch {
 public:
  Stopwatch() : wall_(std::chrono::steady_clock::now()), cpu_(cpuSeconds()) {}
  double wall() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count(); }
  double cpu() const { return cpuSeconds() - cpu_; }

 private:
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "kkm_tinyxml2_floor: %s\n", message.c_str());
  std::exit(1);
}

std::string readFile(const char* path) {
  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) fail(std::string("cannot open ") + path);
  std::string text;
  char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, got);
  std::fclose(in);
  return text;
}

// ---- import: the document kept as plain strings --------------------------

// Elements the import creates with a text node as their first child (also an
// empty one). All others get attributes and element children only.
bool carriesText(std::string_view name) {
  static constexpr std::string_view kWithText[] = {"ImportData", "SaleReports", "SaleReport", "Checks",
                                                   "Goods",      "Payments",    "IncomeOutcomeChecks", "ShiftState"};
  for (std::string_view n : kWithText)
    if (n == name) return true;
  return false;
}

// Strings are offsets into the one block of ImportDataSteps.
constexpr std::uint32_t kNone = UINT32_MAX;

struct Attribute {
  std::uint32_t name;
  std::uint32_t value;
};

// One step of the document in order: an element opening (with its attribute
// range and, when it carries one, its text), or the close of the innermost
// open element. A declaration is a step of its own kind.
struct Step {
  enum Kind : std::uint8_t { kDeclaration, kOpen, kClose } kind = kOpen;
  bool selfClosing = false;
  std::uint32_t name = kNone;
  std::uint32_t text = kNone;  // kNone: no text node
  std::uint32_t firstAttribute = 0;
  std::uint32_t attributeCount = 0;
};

// The steps and values of an ImportData file. Names, values and texts are
// NUL-terminated strings in one block; references are decoded.
class ImportDataSteps {
 public:
  explicit ImportDataSteps(const std::string& s) : s_(s) {
    // The strings together are about as long as the file: one allocation.
    strings_.reserve(s.size() + 1);
    read();
    strings_.shrink_to_fit();
    steps_.shrink_to_fit();
    attributes_.shrink_to_fit();
  }

  const char* text(std::uint32_t offset) const { return strings_.data() + offset; }

  const std::vector<Step>& steps() const { return steps_; }
  const std::vector<Attribute>& attributes() const { return attributes_; }

 private:
  std::uint32_t store(std::size_t begin, std::size_t end) {
    const auto at = static_cast<std::uint32_t>(strings_.size());
    for (std::size_t i = begin; i < end;) {
      if (s_[i] != '&') {
        strings_.push_back(s_[i++]);
        continue;
      }
      const std::size_t semi = s_.find(';', i);
      if (semi == std::string::npos || semi > end) fail("bad character reference");
      const std::string ref = s_.substr(i + 1, semi - i - 1);
      unsigned long code = 0;
      if (ref == "amp") code = '&';
      else if (ref == "lt") code = '<';
      else if (ref == "gt") code = '>';
      else if (ref == "quot") code = '"';
      else if (ref == "apos") code = '\'';
      else if (ref.size() > 1 && ref[0] == '#')
        code = ref[1] == 'x' ? std::strtoul(ref.c_str() + 2, nullptr, 16) : std::strtoul(ref.c_str() + 1, nullptr, 10);
      else
        fail("unknown entity &" + ref + ";");
      if (code < 0x80) {
        strings_.push_back(static_cast<char>(code));
      } else if (code < 0x800) {
        strings_.push_back(static_cast<char>(0xC0 | (code >> 6)));
        strings_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      } else if (code < 0x10000) {
        strings_.push_back(static_cast<char>(0xE0 | (code >> 12)));
        strings_.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        strings_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      } else {
        strings_.push_back(static_cast<char>(0xF0 | (code >> 18)));
        strings_.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        strings_.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        strings_.push_back(static_cast<char>(0x80 | (code & 0x3F)));
      }
      i = semi + 1;
    }
    strings_.push_back('\0');
    return at;
  }

  static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
  static bool isNameChar(char c) { return !isSpace(c) && c != '/' && c != '>' && c != '='; }

  std::size_t skipSpace(std::size_t i) const {
    while (i < s_.size() && isSpace(s_[i])) ++i;
    return i;
  }

  void read() {
    std::size_t i = 0;
    const std::size_t n = s_.size();
    while (i < n) {
      if (s_[i] != '<') {  // layout white space between elements
        ++i;
        continue;
      }
      if (s_.compare(i, 2, "<?") == 0) {
        const std::size_t end = s_.find("?>", i);
        if (end == std::string::npos) fail("unterminated declaration");
        Step step;
        step.kind = Step::kDeclaration;
        step.text = store(i + 2, end);
        steps_.push_back(step);
        i = end + 2;
      } else if (i + 1 < n && s_[i + 1] == '/') {
        const std::size_t end = s_.find('>', i);
        if (end == std::string::npos) fail("unterminated end tag");
        Step step;
        step.kind = Step::kClose;
        steps_.push_back(step);
        i = end + 1;
      } else {
        i = readElement(i + 1);
      }
    }
  }

  std::size_t readElement(std::size_t i) {
    const std::size_t n = s_.size();
    Step step;
    std::size_t nameEnd = i;
    while (nameEnd < n && isNameChar(s_[nameEnd])) ++nameEnd;
    step.name = store(i, nameEnd);
    const bool withText = carriesText(std::string_view(s_.data() + i, nameEnd - i));
    step.firstAttribute = static_cast<std::uint32_t>(attributes_.size());
    std::size_t p = skipSpace(nameEnd);
    while (p < n && s_[p] != '>' && s_[p] != '/') {
      std::size_t attrEnd = p;
      while (attrEnd < n && isNameChar(s_[attrEnd])) ++attrEnd;
      const std::size_t eq = skipSpace(attrEnd);
      if (eq >= n || s_[eq] != '=') fail("attribute without value");
      const std::size_t quote = skipSpace(eq + 1);
      if (quote >= n || (s_[quote] != '"' && s_[quote] != '\'')) fail("attribute value without quotes");
      const std::size_t close = s_.find(s_[quote], quote + 1);
      if (close == std::string::npos) fail("unterminated attribute value");
      Attribute attribute;
      attribute.name = store(p, attrEnd);
      attribute.value = store(quote + 1, close);
      attributes_.push_back(attribute);
      p = skipSpace(close + 1);
    }
    if (p >= n) fail("unterminated start tag");
    step.attributeCount = static_cast<std::uint32_t>(attributes_.size()) - step.firstAttribute;
    step.selfClosing = s_[p] == '/';
    std::size_t next = step.selfClosing ? p + 2 : p + 1;
    if (withText) {
      // The text node prints straight after the start tag (an empty one
      // prints nothing); a self-closing element can only have had none.
      std::size_t textEnd = next;
      if (!step.selfClosing) {
        textEnd = s_.find('<', next);
        if (textEnd == std::string::npos) textEnd = n;
      }
      step.text = store(next, textEnd);
      next = textEnd;
    }
    steps_.push_back(step);
    return next;
  }

  const std::string& s_;
  std::string strings_;
  std::vector<Step> steps_;
  std::vector<Attribute> attributes_;
};

void buildImportData(tinyxml2::XMLDocument& doc, const ImportDataSteps& values) {
  const std::vector<Attribute>& attributes = values.attributes();
  std::vector<tinyxml2::XMLNode*> open{&doc};
  for (const Step& step : values.steps()) {
    switch (step.kind) {
      case Step::kDeclaration:
        doc.InsertEndChild(doc.NewDeclaration(values.text(step.text)));
        break;
      case Step::kClose:
        open.pop_back();
        break;
      case Step::kOpen: {
        tinyxml2::XMLElement* element = doc.NewElement(values.text(step.name));
        if (step.text != kNone) element->InsertFirstChild(doc.NewText(values.text(step.text)));
        for (std::uint32_t k = 0; k < step.attributeCount; ++k) {
          const Attribute& a = attributes[step.firstAttribute + k];
          element->SetAttribute(values.text(a.name), values.text(a.value));
        }
        open.back()->InsertEndChild(element);
        if (!step.selfClosing) open.push_back(element);
        break;
      }
    }
  }
}

void saveTo(tinyxml2::XMLDocument& doc, const char* path) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) fail(std::string("cannot create ") + path);
  if (doc.SaveFile(out, false) != tinyxml2::XML_SUCCESS) fail(std::string("cannot print into ") + path);
  if (std::fclose(out) != 0) fail(std::string("cannot write ") + path);
}

int floorImport(const char* input, const char* output) {
  std::unique_ptr<ImportDataSteps> values;
  {
    const std::string text = readFile(input);
    values = std::make_unique<ImportDataSteps>(text);
  }
  const long inputRss = residentKb();

  auto doc = std::make_unique<tinyxml2::XMLDocument>();
  const Stopwatch timed;
  buildImportData(*doc, *values);
  saveTo(*doc, output);
  const double seconds = timed.wall(), cpu = timed.cpu();

  const Stopwatch release;
  doc.reset();
  std::printf("seconds=%.6f cpu_seconds=%.6f release_seconds=%.6f input_rss_kb=%ld\n", seconds, cpu, release.wall(),
              inputRss);
  return 0;
}

int floorExport(const char* input, const char* output) {
  const long inputRss = residentKb();
  auto doc = std::make_unique<tinyxml2::XMLDocument>();
  const Stopwatch timed;
  if (doc->LoadFile(input) != tinyxml2::XML_SUCCESS) fail(std::string("cannot parse ") + input);
  tinyxml2::XMLElement* root = doc->FirstChildElement("ExportData");
  if (root == nullptr) fail(std::string(input) + " has no ExportData root");
  root->SetAttribute("Processed", "2020-03-02T21:00:00");
  saveTo(*doc, output);
  const double seconds = timed.wall(), cpu = timed.cpu();

  const Stopwatch release;
  doc.reset();
  std::printf("seconds=%.6f cpu_seconds=%.6f release_seconds=%.6f input_rss_kb=%ld\n", seconds, cpu, release.wall(),
              inputRss);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "import") == 0) return floorImport(argv[2], argv[3]);
  if (argc == 4 && std::strcmp(argv[1], "export") == 0) return floorExport(argv[2], argv[3]);
  std::fprintf(stderr, "usage: kkm_tinyxml2_floor import|export INPUT OUTPUT\n");
  return 2;
}
