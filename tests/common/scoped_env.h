// Test helpers beside test_env.h: an environment variable set for one scope, and the skip of
// tests that need the system's zone database.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "foundation/zone_db.h"

namespace cw::test {

// Sets an environment variable for the object's life; what it was before is restored after.
struct ScopedEnv {
  ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
    if (const char* old = std::getenv(name.c_str())) saved = old;
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  ~ScopedEnv() { saved ? ::setenv(name.c_str(), saved->c_str(), 1) : ::unsetenv(name.c_str()); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  std::string name;
  std::optional<std::string> saved;
};

inline bool have_zone_database() {
  return std::filesystem::exists(zone_database_folder() + "/Europe/Berlin");
}

// Skips the current test on a system without the zone database.
#define CW_REQUIRE_ZONE_DATABASE()     \
  if (!::cw::test::have_zone_database()) \
    GTEST_SKIP() << "no zone database (tzdata; scripts/install-deps)"

}  // namespace cw::test
