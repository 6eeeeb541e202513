#include "tests/database/pg_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "database/engine.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"

namespace cw::test {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";

int free_loopback_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

PrivateServer* PrivateServer::get(std::string& why, bool durable) {
  // One per test program; its destructor stops the server when the program ends.
  static std::unique_ptr<PrivateServer> server;
  static std::string failure;
  if (!server && failure.empty()) {
    std::unique_ptr<PrivateServer> s(new PrivateServer);
    s->durable_ = durable;
    if (s->start(failure)) server = std::move(s);
  }
  why = failure;
  return server.get();
}

int PrivateServer::run(const std::string& command, std::string* out) const {
  return run_command(as_user_ + command + " 2>&1", out);
}

bool PrivateServer::start(std::string& why) {
  if (::access((std::string(kBin) + "pg_ctl").c_str(), X_OK) != 0) {
    why = std::string("no PostgreSQL server programs in ") + kBin;
    return false;
  }
  char pattern[] = "/tmp/cw_catalogue_XXXXXX";
  if (!::mkdtemp(pattern)) {
    why = "no temporary folder";
    return false;
  }
  folder_ = pattern;
  std::ofstream(folder_ + "/pw") << kPassword << "\n";
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(folder_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0 ||
        ::chown((folder_ + "/pw").c_str(), nobody->pw_uid, nobody->pw_gid) != 0 ||
        !have_program("runuser")) {
      why = "running as root without an unprivileged user to run the server";
      return false;
    }
    as_user_ = "runuser -u nobody -- ";
  }
  std::string out;
  if (run(std::string(kBin) + "initdb --no-sync -E UTF8 --locale=C -U " + kUser +
              " --auth-local=trust --auth-host=scram-sha-256 --pwfile=" +
              sh_quote(folder_ + "/pw") + " -D " + sh_quote(folder_ + "/data"),
          &out) != 0) {
    why = "initdb failed: " + out;
    return false;
  }
  // A port free a moment ago may be taken meanwhile: a few tries.
  for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
    port_ = free_loopback_port();
    started_ = pg_ctl_start(out) == 0;
  }
  if (!started_) why = "pg_ctl could not start the server: " + out;
  return started_;
}

int PrivateServer::pg_ctl_start(std::string& out) const {
  std::string options = "-p " + std::to_string(port_) + " -k " + sh_quote(folder_) +
                        " -c listen_addresses=127.0.0.1";
  if (!durable_) options += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
  return run(std::string(kBin) + "pg_ctl -w -t 60 -D " + sh_quote(folder_ + "/data") + " -l " +
                 sh_quote(folder_ + "/log") + " -o " + sh_quote(options) + " start",
             &out);
}

std::string PrivateServer::stop_command() const {
  return as_user_ + kBin + "pg_ctl -w -D " + sh_quote(folder_ + "/data") + " -m immediate stop";
}

bool PrivateServer::start_again(std::string& why) {
  std::string out;
  if (pg_ctl_start(out) == 0) return true;
  why = "pg_ctl could not start the server again: " + out;
  return false;
}

PrivateServer::~PrivateServer() {
  if (started_) run_command(stop_command() + " >/dev/null 2>&1");
  if (!folder_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
}

std::string PrivateServer::new_database(std::string& why) {
  const std::string base = "postgresql://" + std::string(kUser) + ":" + kPassword +
                           "@127.0.0.1:" + std::to_string(port_) + "/";
  std::string error;
  std::unique_ptr<Engine> admin = open_engine(base + "postgres", error);
  if (!admin) {
    why = error;
    return {};
  }
  std::string name = "t";
  name += std::to_string(::getpid());
  name += '_';
  name += std::to_string(++databases_);
  if (!admin->exec("create database " + name)) {
    why = admin->error_message();
    return {};
  }
  return base + name;
}

}  // namespace cw::test
