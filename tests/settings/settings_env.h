// Shared fixture of the settings tests: a fresh property-store root, no profile, and a clean
// capturing front end for every test.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "settings/preset.h"
#include "tests/common/test_env.h"
#include "util/proper.h"

namespace cw::test {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove(profile_path());
    ASSERT_TRUE(PropInit(dir.str() + "/root"));
    captured_ui().clear();
  }
  void TearDown() override { captured_ui().clear(); }
  std::string set_file(const std::string& category, const std::string& name) const {
    return dir.str() + "/root/" + category + "/" + name;
  }
  // Writes a set file the way a user's earlier session would have left it.
  void store(const std::string& category, const std::string& name,
             const std::vector<std::pair<std::string, std::string>>& lines) {
    PropSetPtr set = propset_alloc(category, name);
    for (const auto& [k, v] : lines) PropPutStr(set.get(), k, -1, v.c_str());
    ASSERT_TRUE(propset_write(set.get()));
  }
  TempDir dir;
};

// The answers of a preset command, asked of the capturing front end: its scripted answers are
// given and its questions recorded.
inline PresetAnswers asked() {
  return PresetAnswers{
      [](const std::string& prompt, const std::string& initial) {
        return captured_ui().ask_text(prompt, initial);
      },
      [](const std::string& question) { return captured_ui().ask_yes_no(question); },
  };
}

}  // namespace cw::test

namespace cw {
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
}  // namespace cw
