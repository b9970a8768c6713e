#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace platform {
namespace {

using Names = std::vector<std::string>;

// Puts fresh memory stores behind the user's and the machine's roots for one test.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    user_ = std::make_shared<MemorySettingsStore>();
    machine_ = std::make_shared<MemorySettingsStore>();
    old_user_ = InstallSettingsStore(SettingsRoot::CurrentUser, user_);
    old_machine_ = InstallSettingsStore(SettingsRoot::LocalMachine, machine_);
  }
  void TearDown() override {
    InstallSettingsStore(SettingsRoot::CurrentUser, old_user_);
    InstallSettingsStore(SettingsRoot::LocalMachine, old_machine_);
  }

  std::shared_ptr<MemorySettingsStore> user_, machine_;
  std::shared_ptr<SettingsStore> old_user_, old_machine_;
};

TEST_F(RegistryTest, KeysOpenFromTheRootOrFromTheOpenKey) {
  user_->WriteValue("Software\\KELVA\\ORBANE\\5.0\\Aliases", "a", SettingsValue::String("1"));
  Registry reg(SettingsRoot::CurrentUser);

  EXPECT_FALSE(reg.OpenKey("\\Software\\Missing", false));
  EXPECT_FALSE(reg.HasOpenKey());
  ASSERT_TRUE(reg.OpenKey("\\Software\\KELVA", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\KELVA");
  ASSERT_TRUE(reg.OpenKey("ORBANE\\5.0", false));  // relative to the open key
  EXPECT_EQ(reg.CurrentPath(), "Software\\KELVA\\ORBANE\\5.0");
  EXPECT_EQ(reg.GetKeyNames(), (Names{"Aliases"}));
  // A failed open leaves the open key as it was.
  EXPECT_FALSE(reg.OpenKey("Nothing", false));
  EXPECT_EQ(reg.CurrentPath(), "Software\\KELVA\\ORBANE\\5.0");
  EXPECT_TRUE(reg.KeyExists("Aliases"));
  EXPECT_TRUE(reg.KeyExists("\\Software"));
  EXPECT_FALSE(reg.KeyExists("Software"));

  ASSERT_TRUE(reg.OpenKey("\\Software\\KELVA\\ORBANE\\5.0\\Aliases\\New", true));
  EXPECT_TRUE(user_->KeyExists("Software\\KELVA\\ORBANE\\5.0\\Aliases\\New"));
  EXPECT_FALSE(machine_->KeyExists("Software"));

  reg.CloseKey();
  EXPECT_EQ(reg.GetKeyNames(), (Names{"Software"}));
  reg.SetRootKey(SettingsRoot::LocalMachine);
  EXPECT_FALSE(reg.KeyExists("\\Software"));
}

TEST_F(RegistryTest, StringReadsFollowTheValueType) {
  const char* key = "Software\\K";
  user_->WriteValue(key, "plain", SettingsValue::String("C:\\Data"));
  user_->WriteValue(key, "expand", SettingsValue::ExpandString("%TEMP%\\x"));
  user_->WriteValue(key, "number", SettingsValue::Integer(7));
  user_->WriteValue(key, "bytes", SettingsValue::Binary({'a', 'b'}));
  user_->WriteValue(key, "empty bytes", SettingsValue::Binary({}));
  user_->WriteValue(key, "zero inside", SettingsValue::String(std::string("ab\0cd", 5)));

  Registry reg(SettingsRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\K"));
  struct Case {
    const char* name;
    const char* text;  // expected text, or nullptr for an error
  };
  const Case cases[] = {
      {"plain", "C:\\Data"}, {"PLAIN", "C:\\Data"},    {"expand", "%TEMP%\\x"},
      {"missing", ""},       {"zero inside", "ab"},    {"number", nullptr},
      {"bytes", nullptr},    {"empty bytes", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.text) {
      EXPECT_EQ(reg.ReadString(c.name), c.text);
    } else {
      try {
        reg.ReadString(c.name);
        ADD_FAILURE() << "no error";
      } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), ("Invalid data type for '" + std::string(c.name) + "'").c_str());
      }
    }
  }
  EXPECT_EQ(reg.ReadInteger("number"), 7);
  EXPECT_EQ(reg.ReadBinaryData("bytes"), (std::vector<std::uint8_t>{'a', 'b'}));
  EXPECT_THROW(reg.ReadInteger("plain"), ERegistryException);
  EXPECT_THROW(reg.ReadBinaryData("plain"), ERegistryException);
  try {
    reg.ReadInteger("missing");
    ADD_FAILURE() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to get data for 'missing'");
  }
}

TEST_F(RegistryTest, WritesNeedAKeyOpenForWriting) {
  user_->CreateKey("Software\\K");
  Registry reg(SettingsRoot::CurrentUser);
  // The root itself takes no values.
  EXPECT_THROW(reg.WriteString("x", "1"), ERegistryException);

  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\K"));
  try {
    reg.WriteString("DataDir", "x");
    ADD_FAILURE() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'DataDir'");
  }
  EXPECT_FALSE(user_->ReadValue("Software\\K", "DataDir").has_value());

  ASSERT_TRUE(reg.OpenKey("\\Software\\K", false));
  reg.WriteString("s", "text");
  reg.WriteExpandString("e", "%X%");
  reg.WriteInteger("i", -1);
  reg.WriteBinaryData("b", {1, 2});
  EXPECT_EQ(user_->ReadValue("Software\\K", "s"), SettingsValue::String("text"));
  EXPECT_EQ(user_->ReadValue("Software\\K", "e"), SettingsValue::ExpandString("%X%"));
  EXPECT_EQ(user_->ReadValue("Software\\K", "i"), SettingsValue::Integer(0xFFFFFFFFu));
  EXPECT_EQ(reg.ReadInteger("i"), -1);
  EXPECT_EQ(reg.GetValueNames(), (Names{"s", "e", "i", "b"}));
  EXPECT_TRUE(reg.ValueExists("S"));
  EXPECT_TRUE(reg.DeleteValue("s"));
  EXPECT_FALSE(reg.ValueExists("s"));
}

TEST_F(RegistryTest, DeletingTheOpenKeyFallsBackToTheRoot) {
  user_->WriteValue("Software\\K\\Sub", "a", SettingsValue::String("1"));
  Registry reg(SettingsRoot::CurrentUser);
  ASSERT_TRUE(reg.OpenKey("\\Software\\K\\Sub", false));
  EXPECT_TRUE(reg.DeleteKey("\\Software\\K"));
  EXPECT_FALSE(reg.HasOpenKey());
  EXPECT_FALSE(user_->KeyExists("Software\\K"));
  EXPECT_TRUE(user_->KeyExists("Software"));
  EXPECT_FALSE(reg.DeleteKey("\\Software\\K"));
}

}  // namespace
}  // namespace platform
