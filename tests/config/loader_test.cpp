// config.json: the reader's table of documents, the on-disk form and the file's
// life through load and save.
#include "config/loader.hpp"

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/atomic_file.hpp"
#include "common/error.hpp"
#include "support/testutil.hpp"

namespace stelvane::test {
namespace {

using config::parse_config;

const std::string kMinimal = R"({"install_id":"x","org":{"oid":"","name":"","url":""},"user":{"fail_open":false}})";

TEST(ConfigParse, DefaultsForAbsentSwitches) {
  auto c = parse_config(kMinimal);
  EXPECT_EQ(c.install_id, "x");
  EXPECT_FALSE(c.user.fail_open);
  EXPECT_TRUE(c.user.audit_tool_use);
  EXPECT_TRUE(c.user.audit_prompts);
  EXPECT_FALSE(c.user.debug);
  EXPECT_TRUE(c.user.auto_upgrade);
}

TEST(ConfigParse, ReadsEverySwitchAndIgnoresUnknownKeys) {
  auto c = parse_config(R"({"extra":1,"install_id":"id","org":{"oid":"o","name":"n","url":"u","more":[]},
    "user":{"fail_open":true,"audit_tool_use":false,"audit_prompts":false,"debug":true,"auto_upgrade":false}})");
  EXPECT_EQ(c.org.oid, "o");
  EXPECT_EQ(c.org.name, "n");
  EXPECT_EQ(c.org.url, "u");
  EXPECT_TRUE(c.user.fail_open);
  EXPECT_FALSE(c.user.audit_tool_use);
  EXPECT_FALSE(c.user.audit_prompts);
  EXPECT_TRUE(c.user.debug);
  EXPECT_FALSE(c.user.auto_upgrade);
}

TEST(ConfigParse, RejectsInvalidDocuments) {
  struct Case {
    const char* what;
    std::string text;
    std::string message_part;
  };
  const std::vector<Case> cases = {
      {"not json", "{", ""},
      {"empty", "", ""},
      {"array", "[]", "expected struct Config"},
      {"no fail_open", R"({"install_id":"x","org":{"oid":"","name":"","url":""},"user":{}})", "fail_open"},
      {"no org", R"({"install_id":"x","user":{"fail_open":true}})", "org"},
      {"no url", R"({"install_id":"x","org":{"oid":"","name":""},"user":{"fail_open":true}})", "url"},
      {"no install_id", R"({"org":{"oid":"","name":"","url":""},"user":{"fail_open":true}})", "install_id"},
      {"string bool", R"({"install_id":"x","org":{"oid":"","name":"","url":""},"user":{"fail_open":"true"}})",
       "boolean"},
      {"number bool", R"({"install_id":"x","org":{"oid":"","name":"","url":""},"user":{"fail_open":1}})", "boolean"},
      {"optional wrong type",
       R"({"install_id":"x","org":{"oid":"","name":"","url":""},"user":{"fail_open":true,"debug":null}})", "debug"},
      {"number id", R"({"install_id":1,"org":{"oid":"","name":"","url":""},"user":{"fail_open":true}})", "string"},
      {"duplicate top key", R"({"install_id":"x","install_id":"y","org":{"oid":"","name":"","url":""},
         "user":{"fail_open":true}})",
       "duplicate field `install_id`"},
      {"duplicate nested key", R"({"install_id":"x","org":{"oid":"","name":"","url":""},
         "user":{"fail_open":true,"fail_open":false}})",
       "duplicate field `fail_open`"},
  };
  for (const auto& c : cases) {
    try {
      parse_config(c.text);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

TEST(ConfigSerialize, FixedKeyOrderTwoSpacesNoTrailingNewline) {
  config::Config c;
  c.install_id = "id-1";
  c.org = {"o1", "Acme", "https://h/o1/stelvane/s"};
  c.user.debug = true;
  EXPECT_EQ(config::serialize_config(c),
            "{\n  \"user\": {\n    \"fail_open\": true,\n    \"audit_tool_use\": true,\n    \"audit_prompts\": true,\n"
            "    \"debug\": true,\n    \"auto_upgrade\": true\n  },\n  \"install_id\": \"id-1\",\n  \"org\": {\n"
            "    \"oid\": \"o1\",\n    \"name\": \"Acme\",\n    \"url\": \"https://h/o1/stelvane/s\"\n  }\n}");
  auto back = parse_config(config::serialize_config(c));
  EXPECT_EQ(back.org.url, c.org.url);
  EXPECT_TRUE(back.user.debug);
}

// Library-level tests point the process at a private configuration directory.
class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path() / "cfg";
    setenv("STELVANE_CONFIG_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("STELVANE_CONFIG_DIR");
    common::testing::set_fault(nullptr);
  }
  fs::path file() const { return dir_ / "config.json"; }
  TempDir tmp_;
  fs::path dir_;
};

TEST_F(ConfigFileTest, MissingFileGivesFreshDefaultsWithoutWriting) {
  auto a = config::load_config();
  auto b = config::load_config();
  EXPECT_NE(a.install_id, b.install_id);
  EXPECT_TRUE(a.user.fail_open && a.user.audit_tool_use && a.user.audit_prompts && a.user.auto_upgrade);
  EXPECT_FALSE(a.user.debug);
  EXPECT_EQ(a.org.oid, "");
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_EQ(file_mode(dir_), 0700u);
}

TEST_F(ConfigFileTest, LoadRepairsFileAndDirectoryModes) {
  fs::create_directories(dir_);
  fs::permissions(dir_, fs::perms(0755));
  write_file(file(), kMinimal);
  fs::permissions(file(), fs::perms(0644));
  auto c = config::load_config();
  EXPECT_FALSE(c.user.fail_open);
  EXPECT_EQ(file_mode(file()), 0600u);
  EXPECT_EQ(file_mode(dir_), 0700u);
  EXPECT_EQ(read_file(file()), kMinimal);
}

TEST_F(ConfigFileTest, UnreadableOrInvalidExistingFileIsAnError) {
  fs::create_directories(dir_);
  write_file(file(), "{not json");
  try {
    config::load_config();
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Unable to deserialize configuration data");
    EXPECT_EQ(e.causes().size(), 1u);
  }
  fs::remove(file());
  fs::create_directory(file());  // a directory where the file should be
  try {
    config::load_config();
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Unable to read " + file().string());
  }
}

TEST_F(ConfigFileTest, SaveDropsUnknownKeysAndWritesMode0600) {
  fs::create_directories(dir_);
  write_file(file(), R"({"install_id":"x","org":{"oid":"","name":"","url":""},"user":{"fail_open":false},"z":1})");
  fs::permissions(file(), fs::perms(0644));
  config::save_config(config::load_config());
  const std::string text = read_file(file());
  EXPECT_EQ(text.find("\"z\""), std::string::npos);
  EXPECT_EQ(text.back(), '}');
  EXPECT_EQ(file_mode(file()), 0600u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ConfigFileTest, InterruptedSaveLeavesThePreviousFile) {
  auto c = config::default_config();
  config::save_config(c);
  const std::string before = read_file(file());
  c.user.fail_open = false;
  for (const char* step : {"write", "fsync", "rename"}) {
    common::testing::set_fault([step](std::string_view s) { return s == step ? ENOSPC : 0; });
    try {
      config::save_config(c);
      ADD_FAILURE() << step << ": save reported success";
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "Unable to write " + file().string()) << step;
    }
    EXPECT_EQ(read_file(file()), before) << step;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "temporary file left";
  }
}

TEST_F(ConfigFileTest, SaveWritesThroughASymlinkedConfig) {
  fs::create_directories(dir_);
  const fs::path real = tmp_.path() / "dotfiles" / "config.json";
  write_file(real, kMinimal);
  fs::create_symlink(real, file());
  auto c = config::load_config();
  c.org.name = "Linked";
  config::save_config(c);
  EXPECT_TRUE(fs::is_symlink(file()));
  EXPECT_NE(read_file(real).find("\"name\": \"Linked\""), std::string::npos);
}

}  // namespace
}  // namespace stelvane::test
