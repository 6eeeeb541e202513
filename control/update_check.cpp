// The update check over HTTP (libcurl, loaded when the first check runs).
#include "control/update_check.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "database/database.h"
#include "foundation/log.h"
#include "platform/shared_library.h"
#include "settings/preferences.h"

namespace cw {

namespace {

constexpr std::size_t kReplyKept = 4096;  // the first line is all that is read
constexpr std::time_t kCheckInterval = 604800;  // seven days
constexpr const char* kProductName = "CardwrightPro";

std::size_t keep_reply(char* data, std::size_t size, std::size_t count, void* target) {
  auto* reply = static_cast<std::string*>(target);
  const std::size_t n = size * count;
  if (reply->size() < kReplyKept) reply->append(data, std::min(n, kReplyKept - reply->size()));
  return n;
}

// The libcurl functions the check calls. The library is loaded when a check first runs, not
// linked: most runs never check, and linking it would load its thirty-odd libraries into every
// start of the program (a third of a command-line ingestion's start-up time).
#define CW_CURL_FUNCTIONS(X)                                                                      \
  X(curl_global_init) X(curl_easy_init) X(curl_easy_escape) X(curl_free) X(curl_slist_append)     \
  X(curl_slist_free_all) X(curl_easy_setopt) X(curl_easy_perform) X(curl_easy_strerror)           \
  X(curl_easy_cleanup)

CW_LIBRARY_TABLE(CurlApi, CW_CURL_FUNCTIONS);

// Loaded and started once; null when it cannot be.
const CurlApi* curl_api() {
  static const CurlApi* const api = [] {
    std::string error;
    const CurlApi* loaded = library_functions<CurlApi>(CW_LIBCURL_SONAME, error);
    if (!loaded) {
      log_printf("Update check: %s", error.c_str());
      return static_cast<const CurlApi*>(nullptr);
    }
    if (loaded->curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      log_printf("Update check: libcurl does not start");
      return static_cast<const CurlApi*>(nullptr);
    }
    return loaded;
  }();
  return api;
}

struct CurlDeleter {
  void operator()(CURL* c) const { curl_api()->curl_easy_cleanup(c); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* l) const { curl_api()->curl_slist_free_all(l); }
};

// The time text the preference holds, as a time; nothing when it cannot be read.
std::optional<std::time_t> stored_time(const std::string& text) {
  if (text.size() < 19) return std::nullopt;
  std::tm t{};
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                  &t.tm_hour, &t.tm_min, &t.tm_sec) != 6)
    return std::nullopt;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  const std::time_t when = std::mktime(&t);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  return when;
}

}  // namespace

std::string update_check_version(const std::string& version) {
  std::string out;
  for (char c : version) {
    if (c == ' ') continue;
    out += c == ',' ? '.' : c;
  }
  return out.empty() ? "?" : out;
}

UpdateCheckResult check_for_update(const std::string& url, const std::string& version,
                                   std::chrono::milliseconds timeout) {
  UpdateCheckResult result;
  if (url.empty()) return result;
  result.reply = UpdateReply::kFailed;
  const CurlApi* api = curl_api();
  if (!api) return result;
  std::unique_ptr<CURL, CurlDeleter> curl(api->curl_easy_init());
  if (!curl) return result;
  char* escaped = api->curl_easy_escape(curl.get(), update_check_version(version).c_str(), 0);
  if (!escaped) return result;
  const std::string full = url + (url.find('?') == std::string::npos ? "?" : "&") +
                           "product=cwpro3&platform=linux&version=" + escaped;
  api->curl_free(escaped);
  std::unique_ptr<curl_slist, HeaderListDeleter> headers(
      api->curl_slist_append(nullptr, "Cache-Control: no-cache"));
  headers.reset(api->curl_slist_append(headers.release(), "Pragma: no-cache"));
  std::string reply;
  CURL* c = curl.get();
  api->curl_easy_setopt(c, CURLOPT_URL, full.c_str());
  api->curl_easy_setopt(c, CURLOPT_USERAGENT, "Cardwright");
  api->curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  api->curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  api->curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout.count()));
  api->curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  api->curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  api->curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
  api->curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, keep_reply);
  api->curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
  const CURLcode code = api->curl_easy_perform(c);
  if (code != CURLE_OK) {
    log_printf("Update check of %s failed: %s", url.c_str(), api->curl_easy_strerror(code));
    return result;
  }
  std::string line = reply.substr(0, reply.find_first_of("\r\n"));
  result.reply = line == "YES" ? UpdateReply::kUpToDate : UpdateReply::kUpdateAvailable;
  result.first_line = std::move(line);
  return result;
}

std::string manual_update_message(const UpdateCheckResult& result) {
  switch (result.reply) {
    case UpdateReply::kNotConfigured:
      return "No update address is configured (preference UpdateCheckURL).";
    case UpdateReply::kUpToDate:
      return "CardwrightPro is up-to-date.";
    case UpdateReply::kUpdateAvailable:
      return "An CardwrightPro update may be available. Choose Help-Cardwright Web Site for "
             "details.";
    case UpdateReply::kFailed:
      break;
  }
  return "Update check failed (ingestion will proceed normally).";
}

std::optional<AutomaticUpdateText> automatic_update_check(const std::string& version,
                                                          std::time_t now) {
  const std::string url = pref_get_text("UpdateCheckURL");
  if (pref_get_int("UpdateCheckV3") == 0 || url.empty()) return std::nullopt;
  AutomaticUpdateText text;
  const std::string version_line =
      std::string(kProductName) + " Version " + update_check_version(version);
  const std::optional<std::time_t> last = stored_time(pref_get_text("UpdateCheckDateV3"));
  if (last && now - *last < kCheckInterval) {
    text.pane = version_line + "\n";
    return text;
  }
  pref_put_text("UpdateCheckDateV3", db_time_text(now));
  const UpdateCheckResult result = check_for_update(url, version);
  switch (result.reply) {
    case UpdateReply::kUpToDate:
      text.pane = version_line + " (up-to-date)\n";
      break;
    case UpdateReply::kUpdateAvailable:
      text.pane = version_line + "\n\n" + result.first_line;
      text.message = manual_update_message(result);
      break;
    default:
      text.pane = "\nUpdate check failed (ingestion will proceed)\n";
      break;
  }
  return text;
}

std::future<std::optional<AutomaticUpdateText>> automatic_update_check_async(
    const std::string& version) {
  return std::async(std::launch::async,
                    [version] { return automatic_update_check(version, std::time(nullptr)); });
}

}  // namespace cw
