// The update check: one HTTP GET to the address in the preference "UpdateCheckURL" with the
// program's product, platform and version, whose reply's first line is "YES" when this version
// is current. Nothing is ever sent while no address is configured. The check waits a few
// seconds at most; the automatic one at start-up runs on a worker thread so the program never
// waits for it, and at most once in seven days.
#pragma once

#include <chrono>
#include <ctime>
#include <future>
#include <optional>
#include <string>

namespace cw {

enum class UpdateReply { kNotConfigured, kUpToDate, kUpdateAvailable, kFailed };

struct UpdateCheckResult {
  UpdateReply reply = UpdateReply::kNotConfigured;
  std::string first_line;  // the reply's first line (kUpToDate, kUpdateAvailable)
};

inline constexpr std::chrono::seconds kUpdateCheckTimeout{5};

// The version as the check sends it: spaces removed, commas turned into dots, "?" when empty.
std::string update_check_version(const std::string& version);

// Asks `url` (empty: nothing is asked, kNotConfigured).
UpdateCheckResult check_for_update(const std::string& url, const std::string& version,
                                   std::chrono::milliseconds timeout = kUpdateCheckTimeout);

// What the Help menu's check shows for a result.
std::string manual_update_message(const UpdateCheckResult& result);

// What the automatic check gives the main window: text for the pane, and a message to show.
struct AutomaticUpdateText {
  std::string pane;
  std::optional<std::string> message;
};

// The automatic check as of `now`: nothing when "UpdateCheckV3" is off or no address is set;
// only the version line when the last check ("UpdateCheckDateV3") is less than seven days
// old; otherwise stores `now` as the last check and asks.
std::optional<AutomaticUpdateText> automatic_update_check(const std::string& version,
                                                          std::time_t now);

// The same on a worker thread, so the caller can go on and collect the text later.
std::future<std::optional<AutomaticUpdateText>> automatic_update_check_async(
    const std::string& version);

}  // namespace cw
