// Helpers of the platform tests: environment variables set for one test, and mount-table
// lines for a replaced table.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace cw::test {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// One mount-table line; paths must not need escapes.
inline std::string mount_line(int id, const std::string& point, const std::string& type,
                              const std::string& source) {
  return std::to_string(id) + " 1 0:" + std::to_string(id) + " / " + point + " rw - " + type +
         " " + source + " rw\n";
}

}  // namespace cw::test
