#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "platform/registry.h"
#include "platform/settings_store.h"
#include "settings/product_settings.h"

namespace settings {
namespace {

// The settings hold local paths; ours end in this.
#ifdef _WIN32
#define SEP "\\"
#else
#define SEP "/"
#endif

// Temporary settings files behind the user's and the machine's roots for one test.
class ProductSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "datovrat-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    old_user_ = platform::InstallSettingsStore(
        platform::SettingsRoot::CurrentUser,
        std::make_shared<platform::FileSettingsStore>(dir_ + "/user.ini"));
    old_machine_ = platform::InstallSettingsStore(
        platform::SettingsRoot::LocalMachine,
        std::make_shared<platform::FileSettingsStore>(dir_ + "/machine.ini"));
  }
  void TearDown() override {
    FinalizeProductSettings();
    platform::InstallSettingsStore(platform::SettingsRoot::CurrentUser, old_user_);
    platform::InstallSettingsStore(platform::SettingsRoot::LocalMachine, old_machine_);
    std::filesystem::remove_all(dir_);
  }

  void WriteUser(const std::string& text) { std::ofstream(dir_ + "/user.ini") << text; }
  void WriteMachine(const std::string& text) { std::ofstream(dir_ + "/machine.ini") << text; }
  std::string ReadUser() {
    std::ifstream in(dir_ + "/user.ini");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::vector<std::string> AliasTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < ProductAliases()->Count(); ++i)
      texts.push_back(ProductAliases()->Items(i).Text());
    return texts;
  }

  static std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    ::gethostname(name, HOST_NAME_MAX);
    return name;
  }

  std::string dir_;
  std::shared_ptr<platform::SettingsStore> old_user_, old_machine_;
};

TEST_F(ProductSettingsTest, WithoutTheProductKeyEverythingStaysEmpty) {
  // Values under the wrong root are not looked at: the five belong to the machine.
  WriteUser("[Software\\KELVA\\ORBANE\\5.0]\n\"DataDir\"=\"/srv\"\n");
  InitializeProductSettings();
  ASSERT_NE(ProductAliases(), nullptr);
  EXPECT_EQ(ProductAliases()->Count(), 0);
  for (const std::string* value :
       {&DataDir(), &Company(), &IPAddress(), &SPI_UserName(), &SPI_Password()})
    EXPECT_EQ(*value, "");
  FinalizeProductSettings();

  // And the aliases belong to the user.
  WriteUser("");
  WriteMachine("[Software\\KELVA\\ORBANE\\5.0\\Aliases]\n\"data\"=\"/srv\"\n");
  InitializeProductSettings();
  EXPECT_EQ(ProductAliases()->Count(), 0);
  EXPECT_EQ(IPAddress(), HostName());  // the product key is there now, without values
}

TEST_F(ProductSettingsTest, ReadsTheFiveValuesWithTheirRules) {
  struct Case {
    const char* what;
    std::string values;  // lines of the machine's product key
    std::string data_dir, company, ip_address, user, password;
  };
  const std::string host = HostName();
  ASSERT_FALSE(host.empty());
  const std::vector<Case> cases = {
      {"a delimiter is added to DataDir; the stored names are scrambled",
       "\"DataDir\"=\"/srv/data\"\n\"Company\"=\"Kelva s.r.o.\"\n\"IPAddress\"=\"10.0.0.5\"\n"
       "\"SPI_UserName\"=\"ľ»˛¶±\"\n\"SPI_Password\"=\"îíěë\"\n",
       "/srv/data" SEP, "Kelva s.r.o.", "10.0.0.5", "admin", "1234"},
      {"a DataDir that ends in the delimiter stays; 0.0.0.0 means this computer",
       "\"DataDir\"=\"/srv/data" SEP "\"\n\"IPAddress\"=\"0.0.0.0\"\n", "/srv/data" SEP, "", host,
       "", ""},
      {"missing values read as empty; a missing address is this computer", "", "", "", host, "",
       ""},
      {"an empty address is this computer; an empty DataDir stays empty",
       "\"DataDir\"=\"\"\n\"IPAddress\"=\"\"\n", "", "", host, "", ""},
      {"any other address is used as it stands", "\"IPAddress\"=\" 0.0.0.0\"\n", "", "", " 0.0.0.0",
       "", ""},
      {"an expandable string is text too", "\"Company\"=expand:\"%KELVA%\"\n", "", "%KELVA%", host,
       "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteMachine("[Software\\KELVA\\ORBANE\\5.0]\n" + c.values);
    InitializeProductSettings();
    EXPECT_EQ(DataDir(), c.data_dir);
    EXPECT_EQ(Company(), c.company);
    EXPECT_EQ(IPAddress(), c.ip_address);
    EXPECT_EQ(SPI_UserName(), c.user);
    EXPECT_EQ(SPI_Password(), c.password);
    FinalizeProductSettings();
  }
}

TEST_F(ProductSettingsTest, AValueThatIsNotTextStopsTheStartAndLeavesNothingBehind) {
  struct Case {
    std::string user, machine, message;
  };
  const std::vector<Case> cases = {
      {"", "[Software\\KELVA\\ORBANE\\5.0]\n\"DataDir\"=dword:00000001\n",
       "Invalid data type for 'DataDir'"},
      {"", "[Software\\KELVA\\ORBANE\\5.0]\n\"DataDir\"=\"/a\"\n\"SPI_Password\"=hex:01\n",
       "Invalid data type for 'SPI_Password'"},
      {"[Software\\KELVA\\ORBANE\\5.0\\Aliases]\n\"ok\"=\"/a\"\n\"bad\"=hex:\n", "",
       "Invalid data type for 'bad'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    WriteUser(c.user);
    WriteMachine(c.machine);
    try {
      InitializeProductSettings();
      ADD_FAILURE() << "no error";
    } catch (const platform::ERegistryException& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_EQ(ProductAliases(), nullptr);
    EXPECT_EQ(DataDir(), "");
  }
}

TEST_F(ProductSettingsTest, TheModuleReleasesEverythingAtExit) {
  WriteUser("[Software\\KELVA\\ORBANE\\5.0\\Aliases]\n\"data\"=\"/srv\"\n");
  WriteMachine("[Software\\KELVA\\ORBANE\\5.0]\n\"Company\"=\"Kelva\"\n");
  {
    ProductSettingsModule module;
    ASSERT_NE(ProductAliases(), nullptr);
    EXPECT_EQ(ProductAliases()->Count(), 1);
    EXPECT_EQ(Company(), "Kelva");
  }
  EXPECT_EQ(ProductAliases(), nullptr);
  EXPECT_EQ(Company(), "");
  EXPECT_EQ(IPAddress(), "");
}

TEST_F(ProductSettingsTest, AliasesLoadInStoreOrderWithoutTheDefaultValue) {
  WriteUser(
      "[Software\\KELVA\\ORBANE\\5.0\\Aliases]\n"
      "\"zeta\"=\"/z\"\n@=\"not an alias\"\n\"alpha\"=expand:\"/a ; more\"\n\"empty\"=\"\"\n");
  TAliases aliases;
  std::vector<std::string> texts;
  for (int i = 0; i < aliases.Count(); ++i) texts.push_back(aliases.Items(i).Text());
  EXPECT_EQ(texts, (std::vector<std::string>{"zeta=/z", "alpha=/a ; more", "empty="}));

  WriteUser("");
  aliases.Load();
  EXPECT_EQ(aliases.Count(), 0);
}

TEST(TAlias, PartsOfTheText) {
  struct Case {
    std::string text, name, value, path, rest;
  };
  const std::vector<Case> cases = {
      {"data=/srv/data" SEP " ; more", "data", "/srv/data" SEP " ; more", "/srv/data", " more"},
      {"data=/srv/data" SEP ";x", "data", "/srv/data" SEP ";x", "/srv/data", "x"},
      {"noequals", "", "noequals", "noequals", ""},
      {"a=b=c", "a", "b=c", "b=c", ""},
      {"x=  p1 ,rest;more", "x", "  p1 ,rest;more", "p1", "rest;more"},
      {"x=\tp", "x", "\tp", "", "p"},  // control characters end a token; spaces do not
      {"x=p" SEP SEP, "x", "p" SEP SEP, "p" SEP, ""},
      {"x=", "x", "", "", ""},
      {"=v", "", "v", "v", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TAlias alias(c.text);
    EXPECT_EQ(alias.NamePart(), c.name);
    EXPECT_EQ(alias.Value(), c.value);
    EXPECT_EQ(alias.PathPart(), c.path);
    EXPECT_EQ(alias.RestPart(), c.rest);
  }
}

TEST_F(ProductSettingsTest, SaveWritesPathAndRestJoinedBySemicolon) {
  WriteUser("[Software\\KELVA\\ORBANE\\5.0\\Aliases]\n\"old\"=\"/gone\"\n");
  TAliases aliases;
  aliases.Clear();
  aliases.Add("data=/srv/data" SEP ";x");
  aliases.Add("plain=/srv/data");
  aliases.Add("spaced= /p , r ");
  aliases.Save();
  EXPECT_EQ(ReadUser(),
            "[Software\\KELVA\\ORBANE\\5.0\\Aliases]\n"
            "\"data\"=\"/srv/data;x\"\n"
            "\"plain\"=\"/srv/data;\"\n"
            "\"spaced\"=\"/p; r \"\n");
}

TEST(UnscrambleText, TurnsEachCodeAroundThirtyOne) {
  // Stored forms worked out by hand with the Windows 1250 chart: 'a' (97) -> 190 'ľ',
  // 'd' (100) -> 187 '»', 'm' (109) -> 178 '˛', 'i' (105) -> 182 '¶', 'n' (110) -> 177 '±'.
  EXPECT_EQ(UnscrambleText("ľ»˛¶±"), "admin");
  EXPECT_EQ(UnscrambleText("admin"), "ľ»˛¶±");
  // '\x1F' (31) becomes 0 and the other way round; 32 wraps to 255 ('˙').
  EXPECT_EQ(UnscrambleText(std::string("\x1F", 1)), std::string("\0", 1));
  EXPECT_EQ(UnscrambleText(" "), "˙");
  EXPECT_EQ(UnscrambleText(""), "");

  // Every character of the code page comes back from two applications.
  std::string every_byte;
  for (int c = 0; c < 256; ++c) every_byte += static_cast<char>(c);
  const std::string every_character = core::DecodeToUtf8(1250, every_byte);
  EXPECT_EQ(UnscrambleText(UnscrambleText(every_character)), every_character);
  EXPECT_EQ(UnscrambleText(UnscrambleText("Příliš žluťoučký kůň")), "Příliš žluťoučký kůň");
}

}  // namespace
}  // namespace settings
