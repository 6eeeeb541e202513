// The update check against a small HTTP server of the test's own on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "control/update_check.h"
#include "settings/preferences.h"

namespace cw {
namespace {

// Answers one connection at a time with `reply` as the body (or, when `silent`, reads the
// request and answers nothing), and keeps the last request line.
class TinyServer {
 public:
  TinyServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~TinyServer() {
    done_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    if (thread_.joinable()) thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/check"; }
  std::string reply;
  bool silent = false;
  std::string last_request;

 private:
  void serve() {
    while (!done_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      char buf[4096];
      ssize_t n = ::read(c, buf, sizeof buf);
      if (n > 0) last_request.assign(buf, static_cast<std::size_t>(n));
      if (!silent) {
        const std::string response = "HTTP/1.0 200 OK\r\nContent-Length: " +
                                     std::to_string(reply.size()) + "\r\n\r\n" + reply;
        (void)!::write(c, response.data(), response.size());
      } else {
        while (!done_ && ::read(c, buf, sizeof buf) > 0) {
        }
      }
      ::close(c);
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

TEST(UpdateCheck, ReplyUpToDateUpdateAndNoReply) {
  TinyServer server;
  server.reply = "YES\nanything after the first line\n";
  UpdateCheckResult r = check_for_update(server.url(), "0.1.0");
  EXPECT_EQ(r.reply, UpdateReply::kUpToDate);
  EXPECT_EQ(manual_update_message(r), "CardwrightPro is up-to-date.");
  EXPECT_NE(server.last_request.find("GET /check?product=cwpro3&platform=linux&version=0.1.0 "),
            std::string::npos)
      << server.last_request;
  EXPECT_NE(server.last_request.find("User-Agent: Cardwright\r\n"), std::string::npos);

  server.reply = "Version 0.2.0 is out\r\n";
  r = check_for_update(server.url(), "0.1.0");
  EXPECT_EQ(r.reply, UpdateReply::kUpdateAvailable);
  EXPECT_EQ(r.first_line, "Version 0.2.0 is out");

  server.silent = true;
  r = check_for_update(server.url(), "0.1.0", std::chrono::milliseconds(300));
  EXPECT_EQ(r.reply, UpdateReply::kFailed);
  EXPECT_EQ(manual_update_message(r), "Update check failed (ingestion will proceed normally).");

  // Without an address nothing is asked.
  EXPECT_EQ(check_for_update("", "0.1.0").reply, UpdateReply::kNotConfigured);
}

TEST(UpdateCheck, TheAutomaticCheckAsksAtMostOnceAWeek) {
  TinyServer server;
  server.reply = "YES";
  EXPECT_FALSE(automatic_update_check("0.1.0", std::time(nullptr)));  // no address configured
  ASSERT_TRUE(pref_put_text("UpdateCheckURL", server.url()));
  const std::time_t now = std::time(nullptr);
  auto text = automatic_update_check("0.1.0", now);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->pane, "CardwrightPro Version 0.1.0 (up-to-date)\n");
  server.last_request.clear();
  text = automatic_update_check("0.1.0", now + 2 * 86400);
  EXPECT_EQ(text->pane, "CardwrightPro Version 0.1.0\n");
  EXPECT_TRUE(server.last_request.empty());  // two days later: no network access
  server.reply = "0.2.0";
  text = automatic_update_check("0.1.0", now + 8 * 86400);
  EXPECT_EQ(text->pane, "CardwrightPro Version 0.1.0\n\n0.2.0");
  EXPECT_TRUE(text->message);
  ASSERT_TRUE(pref_put_int("UpdateCheckV3", 0));
  EXPECT_FALSE(automatic_update_check("0.1.0", now + 30 * 86400));
  pref_put_int("UpdateCheckV3", 1);
  pref_put_text("UpdateCheckURL", "");
}

}  // namespace
}  // namespace cw
