#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/settings_store.h"
#include "temp_dir.h"

namespace platform {
namespace {

using platform_test::TempDir;
using Names = std::vector<std::string>;

TEST(MemorySettingsStore, NamesIgnoreCaseKeepTheirSpellingAndOrder) {
  MemorySettingsStore store;
  ASSERT_TRUE(store.CreateKey("Software\\KELVA\\Orbane"));
  store.WriteValue("SOFTWARE\\kelva\\ORBANE", "DataDir", SettingsValue::String("/srv"));
  store.WriteValue("software\\kelva\\orbane", "Company", SettingsValue::String("Kelva"));
  store.WriteValue("Software\\Kelva\\Orbane", "datadir", SettingsValue::String("/data"));
  store.CreateKey("software\\Alpha");

  EXPECT_EQ(store.SubkeyNames(""), (Names{"Software"}));
  EXPECT_EQ(store.SubkeyNames("software"), (Names{"KELVA", "Alpha"}));
  EXPECT_EQ(store.SubkeyNames("software\\kelva"), (Names{"Orbane"}));
  // Writing an existing value replaces it where it stands, under its first spelling.
  EXPECT_EQ(store.ValueNames("Software\\KELVA\\Orbane"), (Names{"DataDir", "Company"}));
  EXPECT_EQ(store.ReadValue("Software\\KELVA\\Orbane", "DATADIR"), SettingsValue::String("/data"));
  EXPECT_FALSE(store.ReadValue("Software\\KELVA\\Orbane", "Missing").has_value());
  EXPECT_FALSE(store.ReadValue("Software\\Missing", "DataDir").has_value());
  EXPECT_TRUE(store.ValueNames("Software\\Missing").empty());
}

TEST(MemorySettingsStore, DeletingAKeyTakesItsSubtreeAndNothingElse) {
  MemorySettingsStore store;
  store.WriteValue("A\\B\\C", "x", SettingsValue::Integer(1));
  store.WriteValue("A\\B", "y", SettingsValue::Integer(2));
  store.WriteValue("A\\D", "z", SettingsValue::Integer(3));

  EXPECT_TRUE(store.DeleteKey("a\\b"));
  EXPECT_FALSE(store.KeyExists("A\\B"));
  EXPECT_FALSE(store.KeyExists("A\\B\\C"));
  EXPECT_EQ(store.SubkeyNames("A"), (Names{"D"}));
  EXPECT_EQ(store.ReadValue("A\\D", "z"), SettingsValue::Integer(3));
  EXPECT_FALSE(store.DeleteKey("A\\B"));
  EXPECT_FALSE(store.DeleteKey(""));  // the root stays
  EXPECT_TRUE(store.DeleteValue("A\\D", "Z"));
  EXPECT_FALSE(store.DeleteValue("A\\D", "z"));
  EXPECT_TRUE(store.KeyExists("A\\D"));
}

TEST(MemorySettingsStore, PathsWithEmptyNamesAreRefused) {
  for (const char* bad : {"A\\\\B", "\\A", "A\\", "A\\B\nC", "A\r"}) {
    SCOPED_TRACE(bad);
    MemorySettingsStore store;
    store.CreateKey("A\\B");
    EXPECT_FALSE(store.KeyExists(bad));
    EXPECT_FALSE(store.CreateKey(bad));
    EXPECT_THROW(store.WriteValue(bad, "x", SettingsValue::String("v")), core::Exception);
    EXPECT_EQ(store.AllKeys(), (Names{"A", "A\\B"}));
  }
  MemorySettingsStore store;
  EXPECT_TRUE(store.KeyExists(""));
  EXPECT_THROW(store.WriteValue("", "x", SettingsValue::String("v")), core::Exception);
}

struct ParsedValue {
  const char* key;
  const char* name;
  SettingsValue value;
};

struct GoodText {
  const char* what;
  std::string text;
  std::vector<ParsedValue> values;
};

TEST(SettingsText, ReadsEveryValueForm) {
  const std::vector<GoodText> cases = {
      {"plain text with escaped backslashes, spaces kept",
       "[Software\\KELVA\\ORBANE\\5.0\\Aliases]\n\"data\"=\"C:\\\\Data\\\\ ; more\"\n",
       {{"Software\\KELVA\\ORBANE\\5.0\\Aliases", "data",
         SettingsValue::String("C:\\Data\\ ; more")}}},
      {"the default value, escapes and raw UTF-8",
       "[K]\n@=\"def\"\n\"q\"=\"a\\\"b\\tc\\nd\\re\\x01\\x7f\"\n\"cz\"=\"Příliš\"\n",
       {{"K", "", SettingsValue::String("def")},
        {"K", "q", SettingsValue::String("a\"b\tc\nd\re\x01\x7f")},
        {"K", "cz", SettingsValue::String("Příliš")}}},
      {"numbers",
       "[K]\n\"a\"=dword:0000002a\n\"b\"=dword:FFFFFFFF\n\"c\"=dword:7\n",
       {{"K", "a", SettingsValue::Integer(42)},
        {"K", "b", SettingsValue::Integer(0xFFFFFFFFu)},
        {"K", "c", SettingsValue::Integer(7)}}},
      {"bytes, also empty and continued over lines",
       "[K]\n\"a\"=hex:01,ff,00\n\"b\"=hex:\n\"c\"=hex:01,02,\\\n   03, 04\n",
       {{"K", "a", SettingsValue::Binary({1, 255, 0})},
        {"K", "b", SettingsValue::Binary({})},
        {"K", "c", SettingsValue::Binary({1, 2, 3, 4})}}},
      {"expandable text",
       "[K]\n\"p\"=expand:\"%HOME%\\\\x\"\n",
       {{"K", "p", SettingsValue::ExpandString("%HOME%\\x")}}},
      {"BOM, CR LF, header, comments, blanks and spaces around =",
       "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; note\r\n# note\r\n"
       "  [K]  \r\n  \"a\"  =  \"x\"  \r\n",
       {{"K", "a", SettingsValue::String("x")}}},
      {"a repeated key adds to it, a repeated value replaces it",
       "[K]\n\"a\"=\"1\"\n[L]\n[k]\n\"A\"=\"2\"\n\"b\"=\"3\"\n",
       {{"K", "a", SettingsValue::String("2")}, {"K", "b", SettingsValue::String("3")}}},
      {"a key name with a bracket",
       "[a]b]\n\"x\"=\"y\"\n",
       {{"a]b", "x", SettingsValue::String("y")}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySettingsStore store = ParseSettingsText(c.text, "registry.ini");
    for (const auto& v : c.values) {
      auto read = store.ReadValue(v.key, v.name);
      ASSERT_TRUE(read.has_value()) << v.key << " / " << v.name;
      EXPECT_EQ(*read, v.value) << v.key << " / " << v.name;
    }
  }
}

TEST(SettingsText, KeysAndValuesKeepTheOrderOfTheFile) {
  MemorySettingsStore store =
      ParseSettingsText("[P\\Z]\n\"z\"=\"1\"\n\"a\"=\"2\"\n[P\\A]\n[Q]\n", "f");
  EXPECT_EQ(store.AllKeys(), (Names{"P", "P\\Z", "P\\A", "Q"}));
  EXPECT_EQ(store.ValueNames("P\\Z"), (Names{"z", "a"}));
}

TEST(SettingsText, BadTextNamesTheFileTheLineAndTheFault) {
  struct Bad {
    std::string text;
    std::string message;
  };
  const std::vector<Bad> cases = {
      {"\"a\"=\"x\"\n", "s.ini, line 1: a value comes before the first [key] line"},
      {"[K]\n\n[A\\\\B]\n", "s.ini, line 3: the key path \"A\\\\B\" has an empty name"},
      {"[]\n", "s.ini, line 1: empty key name"},
      {"[abc\n", "s.ini, line 1: a key line must end with \"]\""},
      {"[K]\n\"a\"=\"open\n", "s.ini, line 2: the text in double quotes is not closed"},
      {"[K]\n\"a\"=\"ends in \\\n", "s.ini, line 2: the text in double quotes is not closed"},
      {"[K]\n\"a\"=dword:123456789\n", "s.ini, line 2: a dword has at most 8 hexadecimal digits"},
      {"[K]\n\"a\"=dword:\n", "s.ini, line 2: \"dword:\" must be followed by hexadecimal digits"},
      {"[K]\n\"a\"=hex:1\n", "s.ini, line 2: expected a byte as two hexadecimal digits"},
      {"[K]\n\"a\"=hex:01,\n", "s.ini, line 2: a byte list must not end with \",\""},
      {"[K]\n\"a\"=hex:01 02\n", "s.ini, line 2: expected \",\" between the bytes"},
      {"[K]\n\"a\"=hex:01,\\\n", "s.ini, line 2: the byte list ends with \"\\\" but the file ends"},
      {"[K]\n\"a\"=\"x\" ; no\n", "s.ini, line 2: unexpected text after the value"},
      {"[K]\na=x\n", "s.ini, line 2: expected a value name in double quotes, or @"},
      {"[K]\n\"a\"=42\n", "s.ini, line 2: expected a value: "},
      {"[K]\n\"\"=\"x\"\n", "s.ini, line 2: a value name must not be empty"},
      {"[K]\n\"a\"\n", "s.ini, line 2: expected \"=\" after the value name"},
      {"[K]\n\"a\"=\"\\q\"\n", "s.ini, line 2: unknown escape \"\\q\""},
      {"[K]\n\"a\"=\"\\x4\"\n", "s.ini, line 2: \"\\x\" must be followed by two hexadecimal"},
      {std::string("\xFF\xFE[\0K\0]\0", 8), "s.ini: the file is UTF-16"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseSettingsText(c.text, "s.ini");
      ADD_FAILURE() << "no error";
    } catch (const core::EFileError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message) << e.what();
    }
  }
}

TEST(SettingsText, WritesTheFormItReads) {
  MemorySettingsStore store;
  store.WriteValue("Software\\KELVA", "", SettingsValue::String("default"));
  store.WriteValue("Software\\KELVA", "Path", SettingsValue::String("C:\\Data\\ ; \"x\""));
  store.WriteValue("Software\\KELVA", "N", SettingsValue::Integer(42));
  store.WriteValue("Software\\KELVA", "B", SettingsValue::Binary({0, 0xAB}));
  store.WriteValue("Software\\KELVA", "E", SettingsValue::ExpandString("%X%"));
  EXPECT_EQ(FormatSettingsText(store),
            "[Software\\KELVA]\n"
            "@=\"default\"\n"
            "\"Path\"=\"C:\\\\Data\\\\ ; \\\"x\\\"\"\n"
            "\"N\"=dword:0000002a\n"
            "\"B\"=hex:00,ab\n"
            "\"E\"=expand:\"%X%\"\n");
}

TEST(SettingsText, EveryStoreSurvivesWritingAndReading) {
  MemorySettingsStore store;
  std::string every_byte;
  for (int c = 0; c < 256; ++c) every_byte += static_cast<char>(c);
  std::vector<std::uint8_t> long_bytes;
  for (int i = 0; i < 100; ++i) long_bytes.push_back(static_cast<std::uint8_t>(i * 7));
  store.WriteValue("A\\Deep\\Key", "every byte", SettingsValue::String(every_byte));
  store.WriteValue("A\\Deep\\Key", "name \"with\" = and \\", SettingsValue::Integer(0));
  store.WriteValue("A\\Deep", "long", SettingsValue::Binary(long_bytes));
  store.CreateKey("A\\Empty");
  store.WriteValue("A\\Deep", "", SettingsValue::ExpandString(""));
  store.CreateKey("Top");
  store.WriteValue("Č\\ř", "ž", SettingsValue::String("ůň"));

  MemorySettingsStore back = ParseSettingsText(FormatSettingsText(store), "f");
  EXPECT_EQ(back, store);
  EXPECT_EQ(back.AllKeys(), store.AllKeys());
}

TEST(FileSettingsStore, MissingFileIsEmptyAndReadingCreatesNothing) {
  TempDir dir;
  FileSettingsStore store(dir.File("sub/registry.ini"));
  EXPECT_FALSE(store.KeyExists("Software"));
  EXPECT_TRUE(store.ValueNames("Software").empty());
  EXPECT_FALSE(store.ReadValue("Software", "x").has_value());
  EXPECT_FALSE(std::filesystem::exists(dir.File("sub")));
}

TEST(FileSettingsStore, ChangesAreWrittenAtOnceAndEditsAreSeen) {
  TempDir dir;
  FileSettingsStore store(dir.File("datovrat/registry.ini"));
  store.WriteValue("Software\\KELVA", "DataDir", SettingsValue::String("/srv/data/"));
  EXPECT_EQ(dir.Read("datovrat/registry.ini"), "[Software\\KELVA]\n\"DataDir\"=\"/srv/data/\"\n");
  // Nothing is left beside the file from writing it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("datovrat")),
                          std::filesystem::directory_iterator()),
            1);

  FileSettingsStore other(dir.File("datovrat/registry.ini"));
  EXPECT_EQ(other.ReadValue("software\\kelva", "datadir"), SettingsValue::String("/srv/data/"));

  dir.Write("datovrat/registry.ini", "[Software\\KELVA]\n\"Company\"=\"Kelva\"\n");
  EXPECT_EQ(store.ValueNames("Software\\KELVA"), (Names{"Company"}));

  EXPECT_TRUE(store.DeleteKey("Software\\KELVA"));
  EXPECT_FALSE(other.KeyExists("Software\\KELVA"));
  EXPECT_TRUE(other.KeyExists("Software"));
}

TEST(FileSettingsStore, ErrorsNameTheFile) {
  TempDir dir;
  dir.Write("bad.ini", "[K]\n\"a\"=oops\n");
  FileSettingsStore bad(dir.File("bad.ini"));
  try {
    bad.KeyExists("K");
    ADD_FAILURE() << "no error";
  } catch (const core::EFileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(dir.File("bad.ini") + ", line 2: ", 0), 0u) << e.what();
  }
  // A bad file is not overwritten by a change either.
  EXPECT_THROW(bad.WriteValue("K", "b", SettingsValue::String("x")), core::EFileError);
  EXPECT_EQ(dir.Read("bad.ini"), "[K]\n\"a\"=oops\n");

  std::filesystem::create_directory(dir.File("adir"));
  FileSettingsStore directory(dir.File("adir"));
  try {
    directory.ValueNames("K");
    ADD_FAILURE() << "no error";
  } catch (const core::EFileError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.File("adir")), std::string::npos) << e.what();
  }
}

TEST(FileSettingsStore, AFailedWriteKeepsTheOldFile) {
  TempDir dir;
  FileSettingsStore store(dir.File("registry.ini"));
  store.WriteValue("K", "a", SettingsValue::String("1"));
  // A directory where the new file would go makes the write fail, for root as well.
  std::filesystem::create_directory(dir.File("registry.ini.new-" + std::to_string(::getpid())));
  try {
    store.WriteValue("K", "a", SettingsValue::String("2"));
    ADD_FAILURE() << "no error";
  } catch (const core::EFileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(dir.File("registry.ini") + ": cannot write", 0), 0u)
        << e.what();
  }
  EXPECT_EQ(store.ReadValue("K", "a"), SettingsValue::String("1"));

  // A directory that cannot be made is named too.
  dir.Write("plain", "x");
  FileSettingsStore below_a_file(dir.File("plain/registry.ini"));
  EXPECT_THROW(below_a_file.CreateKey("K"), core::EFileError);
}

// Sets an environment variable for the length of a test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(SettingsRoots, FilesLiveInTheConfigurationDirectories) {
  SetSettingsDirectories("", "");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(SettingsFilePath(SettingsRoot::CurrentUser), "/cfg/datovrat/registry.ini");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(SettingsFilePath(SettingsRoot::CurrentUser), "/home/u/.config/datovrat/registry.ini");
  }
  EXPECT_EQ(SettingsFilePath(SettingsRoot::LocalMachine), "/etc/datovrat/registry.ini");
  SetSettingsDirectories("/u", "/m");
  EXPECT_EQ(SettingsFilePath(SettingsRoot::CurrentUser), "/u/datovrat/registry.ini");
  EXPECT_EQ(SettingsFilePath(SettingsRoot::LocalMachine), "/m/datovrat/registry.ini");
  SetSettingsDirectories("", "");
}

TEST(SettingsRoots, TheOwnStoresAreFilesAndInstalledOnesTakeOver) {
  TempDir dir;
  SetSettingsDirectories(dir.File("user"), dir.File("machine"));
  StoreFor(SettingsRoot::CurrentUser).WriteValue("K", "u", SettingsValue::String("1"));
  StoreFor(SettingsRoot::LocalMachine).WriteValue("K", "m", SettingsValue::String("2"));
  EXPECT_EQ(dir.Read("user/datovrat/registry.ini"), "[K]\n\"u\"=\"1\"\n");
  EXPECT_EQ(dir.Read("machine/datovrat/registry.ini"), "[K]\n\"m\"=\"2\"\n");

  // Class registrations are kept in memory by the program itself.
  StoreFor(SettingsRoot::ClassesRoot).CreateKey("DAO.DBEngine.36");
  EXPECT_TRUE(StoreFor(SettingsRoot::ClassesRoot).KeyExists("dao.dbengine.36"));
  StoreFor(SettingsRoot::ClassesRoot).DeleteKey("DAO.DBEngine.36");

  auto memory = std::make_shared<MemorySettingsStore>();
  auto previous = InstallSettingsStore(SettingsRoot::CurrentUser, memory);
  EXPECT_EQ(previous, nullptr);
  EXPECT_EQ(&StoreFor(SettingsRoot::CurrentUser), memory.get());
  EXPECT_FALSE(StoreFor(SettingsRoot::CurrentUser).KeyExists("K"));
  EXPECT_EQ(InstallSettingsStore(SettingsRoot::CurrentUser, nullptr), memory);
  EXPECT_TRUE(StoreFor(SettingsRoot::CurrentUser).KeyExists("K"));
  SetSettingsDirectories("", "");
}

}  // namespace
}  // namespace platform
