// bench_catalogue [--count N] [--pairs N]: an ingestion of N small JPEGs (default 1000) recorded
// in a catalogue on a PostgreSQL server on this machine, against the same ingestion recorded in
// the embedded file. The server is a private one started for the benchmark, flushing every
// commit to disk as a studio's server would (the file does too).
//
// Each run is `cardwright ingest` of the same card into an empty archive, in a fresh user folder
// and, for the server, a new database, so both sides record every image. Each catalogue is
// first used, untimed, for an ingestion of another card (the demo card), so that the timed
// ingestion meets a catalogue as a station in use has it: its tables, default rows and
// columns made. Each run then ingests the card again, timed too: a card put back in, every image
// found in the catalogue already (with a catalogue on a server, the lookups of its entries are
// round trips). Pairs of runs alternate their order; each pair's ratios server / file are
// printed, then their medians (target for the first ingestion: <= 1.3).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/common/test_env.h"
#include "tests/database/pg_server.h"
#include "tests/fixtures/programs.h"

namespace fs = std::filesystem;

// The folder the test helpers make their temporary folders in; a test program's own main()
// gives it, and this benchmark is a program of its own.
const fs::path& cw::test::test_root() {
  static const fs::path root = [] {
    char pattern[] = "/tmp/cw_bench_catalogue_XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return fs::path(made ? made : "/tmp");
  }();
  return root;
}

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Seconds an ingestion of `card` took, and its ingestion again, each from a synced start to its
// end; negative after a failure.
struct Times {
  double first = -1, again = -1;
};

Times ingest(const fs::path& work, const fs::path& card, const std::string& catalogue, int run) {
  const fs::path home = work / ("home" + std::to_string(run));
  const fs::path archive = work / ("archive" + std::to_string(run));
  const std::string program = "XDG_DATA_HOME=" + cw::test::sh_quote(home / "data") +
                              " XDG_CONFIG_HOME=" + cw::test::sh_quote(home / "config") + " " +
                              cw::test::sh_quote(CW_CARDWRIGHT);
  const std::string options =
      (catalogue.empty() ? "" : " --catalogue " + cw::test::sh_quote(catalogue)) +
      " >/dev/null 2>" + cw::test::sh_quote(work / "ingest.log");
  auto ingest_card = [&](const fs::path& from) {
    return cw::test::run_command(program + " ingest --card " + cw::test::sh_quote(from / "DCIM") +
                                 " --primary " + cw::test::sh_quote(archive) +
                                 " --no-backup --json" + options);
  };
  int status = ingest_card(work / "used");
  Times times;
  for (double* seconds : {&times.first, &times.again}) {
    ::sync();
    const Clock::time_point start = Clock::now();
    if (status == 0) status = ingest_card(card);
    *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::error_code ignored;
  fs::remove_all(archive, ignored);
  fs::remove_all(home, ignored);
  if (status != 0) {
    std::fprintf(stderr, "ingestion failed:\n%s\n",
                 cw::test::read_file(work / "ingest.log").c_str());
    return {};
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 1000;
  int pairs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--count")
      count = std::atoi(argv[i + 1]);
    else if (option == "--pairs")
      pairs = std::atoi(argv[i + 1]);
  }
  if (count <= 0 || pairs <= 0 || argc % 2 == 0) {
    std::fprintf(stderr, "Usage: bench_catalogue [--count N] [--pairs N]\n");
    return 2;
  }
  std::string why;
  cw::test::PrivateServer* server = cw::test::PrivateServer::get(why, true);
  if (!server) {
    std::fprintf(stderr, "bench_catalogue: no PostgreSQL server: %s\n", why.c_str());
    return 1;
  }
  const fs::path& work = cw::test::test_root();
  const fs::path card = work / "card";
  if (cw::test::run_command(cw::test::sh_quote(CW_MAKE_SAMPLE_CARD) + " --small " +
                            std::to_string(count) + " " + cw::test::sh_quote(card) +
                            " >/dev/null") != 0 ||
      cw::test::run_command(cw::test::sh_quote(CW_MAKE_SAMPLE_CARD) + " " +
                            cw::test::sh_quote(work / "used") + " >/dev/null") != 0) {
    std::fprintf(stderr, "bench_catalogue: the cards could not be made\n");
    return 1;
  }
  std::printf("Card: %d small JPEGs; server on 127.0.0.1:%d; %ld processors\n", count,
              server->port(), ::sysconf(_SC_NPROCESSORS_ONLN));
  int run = 0;
  ingest(work, card, "", ++run);  // warms the page cache with the card for both sides
  std::vector<double> ratios, again_ratios, file_times, server_times;
  for (int pair = 1; pair <= pairs; ++pair) {
    const std::string database = server->new_database(why);
    if (database.empty()) {
      std::fprintf(stderr, "bench_catalogue: no database: %s\n", why.c_str());
      return 1;
    }
    Times file, on_server;
    if (pair % 2) {
      file = ingest(work, card, "", ++run);
      on_server = ingest(work, card, database, ++run);
    } else {
      on_server = ingest(work, card, database, ++run);
      file = ingest(work, card, "", ++run);
    }
    if (file.again < 0 || on_server.again < 0) return 1;
    file_times.push_back(file.first);
    server_times.push_back(on_server.first);
    ratios.push_back(on_server.first / file.first);
    again_ratios.push_back(on_server.again / file.again);
    std::printf(
        "pair %d: file %.2f s, server %.2f s, ratio %.3f; again: file %.3f s, server %.3f s, "
        "ratio %.3f\n",
        pair, file.first, on_server.first, ratios.back(), file.again, on_server.again,
        again_ratios.back());
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  std::printf("median file %.2f s, median server %.2f s\n", median(file_times),
              median(server_times));
  std::printf("median ratio server / file: %.3f (target <= 1.3)\n", median(ratios));
  std::printf("median ratio server / file, the card ingested again: %.3f\n", median(again_ratios));
  return 0;
}
