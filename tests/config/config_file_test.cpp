#include "config/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "files/text_file.h"
#include "text/utf8.h"
#include "captured_messages.h"
#include "report_test_support.h"
#include "test_files.h"

namespace {

using reporttest::configurationAt;

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override { resetSettings(); }
  void TearDown() override { resetSettings(); }

  std::string write(const std::string& text) {
    writeFileBytes(dir.file("config.xml"), text);
    return dir.file("config.xml");
  }

  ScopedTempDir dir;
};

const std::string kConfig =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<config>\n"
    "  <basicparams>\n"
    "    <param login=\"shop\" password=\"s3cr&amp;t\" basicURL=\"https://cloud.example/api/\" debugmode=\"0\"/>\n"
    "  </basicparams>\n"
    "  <importparams>\n"
    "    <import lastDocDT=\"2020-03-01T10:00:00.000+0000\" kkmNum=\"0000000000012345\"/>\n"
    "  </importparams>\n"
    "</config>\n";

TEST_F(ConfigFileTest, ReadsBasicSettingsAndTracesWithoutThePassword) {
  const std::string path = write(kConfig);
  CapturedMessages captured;
  EXPECT_TRUE(readInitialPreferences(*configurationAt(path)));
  const std::string out = captured.out();

  EXPECT_EQ("shop", login);
  EXPECT_EQ("s3cr&t", password);
  EXPECT_EQ("https://cloud.example/api/", basicURL);
  EXPECT_EQ(0, debugmode);
  EXPECT_TRUE(sslVerify);
  EXPECT_EQ("", caFile);

  std::string masked = readTextFile(path).text;
  masked.replace(masked.find("s3cr&amp;t"), 10, "***");
  EXPECT_EQ(" readInitialPreferences filePath= " + path + "\n" + " readInitialPreferences xmlConfig " + masked +
                "\n readInitialPreferences \n config \n basicparams \n",
            out);
  EXPECT_EQ(std::string::npos, out.find("s3cr"));
}

// However another editor laid the file out, the password never shows in the
// trace: not after a joined line, not split across lines, not elsewhere in
// the file.
TEST_F(ConfigFileTest, PasswordIsMaskedByItsValueInEveryLayout) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"password starts a line", "<config>\n<basicparams>\n<param login=\"shop\"\npassword=\"Zq7&amp;x\"\nbasicURL=\"u\"/>"},
      {"CR LF, one attribute a line", "<config>\r\n<basicparams>\r\n<param\r\n  login=\"shop\"\r\n  password='Zq7&amp;x'\r\n  basicURL=\"u\"/>"},
      {"value split across lines", "<config><basicparams><param login=\"shop\" password=\"Zq7\n&amp;x\" basicURL=\"u\"/>"},
      {"value repeated in a comment", "<config><!-- Zq7&x Zq7&amp;x --><basicparams><param password=\"Zq7&amp;x\" basicURL=\"u\"/>"},
  };
  for (const auto& c : cases) {
    resetSettings();
    const std::string path = write(c.second + "</basicparams></config>\n");
    CapturedMessages captured;
    EXPECT_TRUE(readInitialPreferences(*configurationAt(path))) << c.first;
    EXPECT_EQ("Zq7&x", password) << c.first;
    EXPECT_EQ(std::string::npos, captured.out().find("Zq7")) << c.first << "\n" << captured.out();
    EXPECT_NE(std::string::npos, captured.out().find("***")) << c.first;
  }
}

TEST_F(ConfigFileTest, DebugModeIsOnOnlyForOne) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"1", 1}, {"0", 0}, {"2", 2}, {"-1", -1}, {" 1", 1}, {"01", 1}, {"1 ", 1}, {"1x", 1},
      {"", 0}, {"x1", 0}, {"99999999999", 0},
  };
  for (const auto& c : cases) {
    resetSettings();
    const std::string path = write("<config><basicparams><param login=\"l\" password=\"pw-9\" basicURL=\"u\" debugmode=\"" +
                                   c.first + "\"/></basicparams></config>");
    CapturedMessages captured;
    readInitialPreferences(*configurationAt(path));
    const std::string out = captured.out();
    EXPECT_EQ(c.second, debugmode) << "debugmode=\"" << c.first << "\"";
    const bool traced = out.find(" readInitialPreferences login l\n password ***\n basicURL u\n") != std::string::npos;
    EXPECT_EQ(c.second == 1, traced) << "debugmode=\"" << c.first << "\"\n" << out;
  }
}

TEST_F(ConfigFileTest, FirstElementOfEachNameCountsInAnyOrder) {
  const std::string path = write(
      "<config><importparams><import kkmNum=\"77\" lastDocDT=\"0\" formatVersion=\"3003\"/>"
      "<import formatVersion=\"3000\"/></importparams>"
      "<basicparams><param login=\"first\" basicURL=\"u1\"/><param login=\"second\" basicURL=\"u2\"/></basicparams>"
      "<basicparams><param login=\"third\"/></basicparams></config>");
  CapturedMessages captured;
  EXPECT_TRUE(readInitialPreferences(*configurationAt(path)));
  EXPECT_TRUE(readImportParams(*configurationAt(path)));
  EXPECT_EQ("first", login);
  EXPECT_EQ("u1", basicURL);
  EXPECT_EQ("", password);  // a missing attribute reads as empty
  EXPECT_EQ("0", lastDocDT);
  EXPECT_EQ("77", kkmNum);
  EXPECT_EQ("3003", formatVersion);
}

TEST_F(ConfigFileTest, TlsAttributes) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", true}, {" sslVerify=\"0\"", false}, {" sslVerify=\"1\"", true}, {" sslVerify=\"no\"", true},
      {" sslVerify=\" 0\"", true},
  };
  for (const auto& c : cases) {
    resetSettings();
    const std::string path =
        write("<config><basicparams><param basicURL=\"u\" caFile=\"/etc/ca.pem\"" + c.first + "/></basicparams></config>");
    CapturedMessages captured;
    readInitialPreferences(*configurationAt(path));
    EXPECT_EQ(c.second, sslVerify) << c.first;
    EXPECT_EQ("/etc/ca.pem", caFile);
  }
}

// Paths in the file are UTF-8, as it declares. Bytes of another code page
// (a file saved as windows-1251) are still read, with a warning that names
// the attribute: on Windows in the ANSI code page, elsewhere as the bytes
// that name the file.
TEST_F(ConfigFileTest, PathAttributesAreUtf8OrReadWithAWarning) {
  const std::string utf8 = "C:\\\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB\\run.log";  // C:\Журнал\run.log
  const std::string cp1251 = "C:\\\xC6\xF3\xF0\xED\xE0\xEB\\run.log";                     // the same in windows-1251
  struct Case {
    std::string runLog;
    std::string caFile;
    const char* warnedAbout;  // nullptr: no warning
  };
  const std::vector<Case> cases = {
      {utf8, utf8 + ".pem", nullptr},
      {cp1251, "ca.pem", "runLog"},
      {"run.log", cp1251, "caFile"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runLog + " " + c.caFile);
    resetSettings();
    const std::string path = write("<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><basicparams><param basicURL=\"u\" runLog=\"" +
                                   c.runLog + "\" caFile=\"" + c.caFile + "\"/></basicparams></config>");
    CapturedMessages captured;
    ASSERT_TRUE(readInitialPreferences(*configurationAt(path)));
    if (c.warnedAbout == nullptr) {
      EXPECT_EQ("", captured.err());
      EXPECT_EQ(c.runLog, runLog);
      EXPECT_EQ(c.caFile, caFile);
      continue;
    }
    EXPECT_EQ(0u, captured.err().find(std::string("kkmbridge: warning: the ") + c.warnedAbout + " attribute in " + path +
                                      " is not UTF-8"))
        << captured.err();
    const std::string& raw = std::string(c.warnedAbout) == "runLog" ? c.runLog : c.caFile;
    const std::string& read = std::string(c.warnedAbout) == "runLog" ? runLog : caFile;
#ifdef _WIN32
    EXPECT_NE(raw, read);
    EXPECT_TRUE(isValidUtf8(read)) << read;
    EXPECT_NE(std::string::npos, read.find("\\run.log")) << read;
    EXPECT_NE(std::string::npos, captured.err().find("read in the ANSI code page")) << captured.err();
#else
    EXPECT_EQ(raw, read);
#endif
  }
}

TEST_F(ConfigFileTest, NothingReadFromBrokenOrForeignFiles) {
  const std::vector<std::string> cases = {
      "", "not xml at all", "<config><basicparams>", "<settings><basicparams><param basicURL=\"u\"/></basicparams></settings>",
      "<config><param basicURL=\"u\"/></config>", "<config><basicparams/></config>", "\x01\x02\xFF\xFE",
  };
  for (const auto& c : cases) {
    resetSettings();
    const std::string path = write(c);
    CapturedMessages captured;
    EXPECT_FALSE(readInitialPreferences(*configurationAt(path))) << c;
    EXPECT_FALSE(readImportParams(*configurationAt(path))) << c;
    const std::string out = captured.out();
    EXPECT_EQ("", basicURL) << c;
    EXPECT_NE(std::string::npos, out.find(" readInitialPreferences \n")) << c;
  }
  CapturedMessages absent;
  EXPECT_FALSE(readInitialPreferences(*configurationAt(dir.file("absent.xml"))));
  EXPECT_EQ(" readInitialPreferences filePath= " + dir.file("absent.xml") +
                "\n readInitialPreferences xmlConfig \n readInitialPreferences \n",
            absent.out());
  EXPECT_EQ("", absent.err());
  // A file that is there but cannot be read is said on standard error.
  CapturedMessages folder;
  EXPECT_FALSE(readInitialPreferences(*configurationAt(dir.path())));
  EXPECT_NE(std::string::npos, folder.err().find("cannot read configuration file " + dir.path())) << folder.err();
}

TEST_F(ConfigFileTest, ImportParamsTracedInDebugMode) {
  const std::string path = write(kConfig);
  debugmode = 1;
  CapturedMessages captured;
  formatVersion = "3003";
  EXPECT_TRUE(readImportParams(*configurationAt(path)));
  EXPECT_EQ(" readImportParams lastDocDT 2020-03-01T10:00:00.000+0000\n kkmNum 0000000000012345\n",
            captured.out());
  EXPECT_EQ("3000", formatVersion);  // what a file without the attribute stands for
}

TEST(maskPasswords, HidesEveryPasswordValue) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"(<param login="a" password="secret" x="1"/>)", R"(<param login="a" password="***" x="1"/>)"},
      {R"(<param password='se"cret'/>)", R"(<param password='***'/>)"},
      {"<param\npassword = \"s\"/>", "<param\npassword = \"***\"/>"},
      {R"(<param password=""/>)", R"(<param password="***"/>)"},
      {R"(<param xpassword="visible" password="s"/>)", R"(<param xpassword="visible" password="***"/>)"},
      {R"(<param login="a"password="s"/>)", R"(<param login="a"password="***"/>)"},  // a joined line
      {R"(<a password="1"/><b password="2"/>)", R"(<a password="***"/><b password="***"/>)"},
      {R"(<param password="unterminated)", R"(<param password="***)"},
      {"password", "password"},
      {" password", " password"},
      {" password=", " password="},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, maskPasswords(c.first)) << c.first;
}

TEST_F(ConfigFileTest, WriteBackChangesOnlyLastDocDT) {
  const std::string path = write(
      "<?xml version=\"1.0\"?>\n<!-- shop 1 -->\n<config>\n"
      "<basicparams><param login=\"a\" password=\"p\" basicURL=\"u\"/></basicparams>\n"
      "<importparams><import kkmNum=\"5\" lastDocDT=\"old\" extra=\"x\"/></importparams>\n</config>\n");
  std::string error;
  ASSERT_TRUE(saveLastShiftCloseDate("2021-01-01T10:00:00.000+0000", path, error)) << error;
  const std::string text = readFileBytes(path);
  EXPECT_NE(std::string::npos,
            text.find("<import kkmNum=\"5\" lastDocDT=\"2021-01-01T10:00:00.000+0000\" extra=\"x\"/>"))
      << text;
  EXPECT_NE(std::string::npos, text.find("<!-- shop 1 -->")) << text;
  EXPECT_NE(std::string::npos, text.find("password=\"p\"")) << text;
  resetSettings();
  readImportParams(*configurationAt(path));
  EXPECT_EQ("2021-01-01T10:00:00.000+0000", lastDocDT);
}

// The rewrite keeps the file's byte-order mark and its CR LF line ends, so
// that an admin's editor shows the same file.
TEST_F(ConfigFileTest, WriteBackKeepsTheFilesShape) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string lines =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- shop 1 -->\n<config>\n  <basicparams>\n    <param basicURL=\"u\"/>\n"
      "  </basicparams>\n  <importparams>\n    <import lastDocDT=\"old\"/>\n  </importparams>\n</config>\n";
  struct Case {
    const char* name;
    std::string bom;
    std::string lineEnd;
  };
  const std::vector<Case> cases = {
      {"LF", "", "\n"}, {"CR LF", "", "\r\n"}, {"mark and LF", bom, "\n"}, {"mark and CR LF", bom, "\r\n"},
  };
  const auto withLineEnd = [](std::string text, const std::string& lineEnd) {
    for (std::size_t i = 0; (i = text.find('\n', i)) != std::string::npos; i += lineEnd.size())
      text.replace(i, 1, lineEnd);
    return text;
  };
  std::string plain;  // what the rewrite of the plain LF file holds
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write(c.bom + withLineEnd(lines, c.lineEnd));
    std::string error;
    ASSERT_TRUE(saveLastShiftCloseDate("new", path, error)) << error;
    const std::string text = readFileBytes(path);
    if (plain.empty()) {
      plain = text;
      EXPECT_NE(std::string::npos, plain.find("lastDocDT=\"new\"")) << plain;
      EXPECT_EQ(std::string::npos, plain.find('\r')) << plain;
    }
    EXPECT_EQ(c.bom + withLineEnd(plain, c.lineEnd), text);
  }
}

TEST_F(ConfigFileTest, WriteBackAppendsAMissingAttribute) {
  const std::string path = write("<config><importparams><import kkmNum=\"5\"/></importparams></config>");
  std::string error;
  ASSERT_TRUE(saveLastShiftCloseDate("d&t", path, error)) << error;
  EXPECT_NE(std::string::npos, readFileBytes(path).find("<import kkmNum=\"5\" lastDocDT=\"d&amp;t\"/>"));
}

TEST_F(ConfigFileTest, FailedWriteBackLeavesTheFileAsItWas) {
  const std::string original = "<config>\n<importparams><import lastDocDT=\"old\"/></importparams>\n</config>\n";
  const std::string path = write(original);

  std::string error;
  EXPECT_FALSE(saveLastShiftCloseDate("", path, error));
  EXPECT_EQ(original, readFileBytes(path));

  const std::string noImport = dir.file("noimport.xml");
  writeFileBytes(noImport, "<config><importparams/></config>");
  EXPECT_FALSE(saveLastShiftCloseDate("new", noImport, error));
  EXPECT_EQ(0u, error.find("cannot store lastDocDT in " + noImport)) << error;
  EXPECT_EQ("<config><importparams/></config>", readFileBytes(noImport));
  // A change that stores no lastDocDT (clearing the commit record) does not say it does.
  EXPECT_FALSE(updateImportElement(noImport, {{kPendingFileAttribute, "", true}}, error));
  EXPECT_EQ(0u, error.find("cannot change config/importparams/import in " + noImport)) << error;

  // The file has disappeared: nothing is created.
  EXPECT_FALSE(saveLastShiftCloseDate("new", dir.file("gone.xml"), error));
  EXPECT_FALSE(fileExists(dir.file("gone.xml")));

  // The folder is read-only: the write fails and says so.
  ::chmod(dir.path().c_str(), 0555);
  ::chmod(path.c_str(), 0644);
  EXPECT_EQ(1, runUnprivileged([&] {
              std::string e;
              return saveLastShiftCloseDate("new", path, e) || e.find("cannot write configuration file " + path) != 0;
            }));
  ::chmod(dir.path().c_str(), 0700);
  EXPECT_EQ(original, readFileBytes(path));
}

// Values the printer writes in a form that does not read back: storing
// lastDocDT must not quietly change them (or lose the element), so the file
// is left as it was and the reason goes to standard error.
TEST_F(ConfigFileTest, WriteBackThatWouldNotReadTheSameIsRefused) {
  const std::string param = "<basicparams><param login=\"a\" password=\"p\" basicURL=\"u\"/></basicparams>";
  const std::string import = "<importparams><import lastDocDT=\"old\" kkmNum=\"5\"/></importparams>";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"encoded line feed in the password",
       "<config><basicparams><param login=\"a\" password=\"p&#10;q\" basicURL=\"u\"/></basicparams>" + import +
           "</config>"},
      {"carriage return inside a value",
       "<config><basicparams><param login=\"a\" password=\"p\rq\" basicURL=\"u\"/></basicparams>" + import +
           "</config>"},
      {"encoded line break in kkmNum",
       "<config>" + param + "<importparams><import lastDocDT=\"old\" kkmNum=\"5&#13;\"/></importparams></config>"},
      {"text and a stray closing tag after the root",
       "<config>" + param + import + "</config>x\"/>\n</importparams></config>\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write(c.text);
    ASSERT_TRUE(readImportParams(*configurationAt(path)));
    std::string err;
    EXPECT_FALSE(saveLastShiftCloseDate("2021-01-01T10:00:00.000+0000", path, err));
    EXPECT_NE(std::string::npos, err.find("cannot store lastDocDT in " + path)) << err;
    EXPECT_NE(std::string::npos, err.find("would")) << err;
    EXPECT_EQ(std::string::npos, err.find("p\nq")) << err;  // no value shown
    EXPECT_EQ(c.text, readFileBytes(path));
  }
}

}  // namespace
