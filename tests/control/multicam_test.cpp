// The multi-camera shoot: what counts as an image, the table's order, adjustments and their
// confirmation, writing the times with an injected failure, the merged order of a Re-Ingest,
// local times against Python's, the command line from sync to ingestion, and a shoot whose
// second camera's clock was wrong named by the corrected clock.
#include "control/multicam.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "control/start_flow.h"
#include "foundation/sysio.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using fixtures::mtime_of;
using test::captured_ui;
using test::sh_quote;
using ::testing::StartsWith;

constexpr std::time_t kT = 1715940000;  // the first image of camera A

struct MultiCam : ::testing::Test {
  test::TempDir dir;
  std::string a = dir / "shoot/camA", b = dir / "shoot/camB", sidecars = dir / "shoot/sidecars";
  std::string outside = dir / "outside.JPG";

  void SetUp() override {
    captured_ui().clear();
    // Camera A at t, t+20, t+40; camera B an hour slow. Around them what is not an image.
    for (int i = 0; i < 3; ++i) file(a + "/A_" + std::to_string(i) + ".JPG", kT + 20 * i);
    file(b + "/B_0.JPG", kT + 10 - 3600);
    file(b + "/B_1.JPG", kT + 30 - 3600);
    file(b + "/B_0.xmp", kT);
    file(b + "/.hidden.jpg", kT - 9000);
    file(b + "/sub/B_9.JPG", kT - 9000);
    file(outside, kT - 5000);
    fs::create_symlink(outside, b + "/link.JPG");
    file(sidecars + "/X.XMP", kT);
    file(sidecars + "/.x.jpg", kT);
  }
  void TearDown() override { captured_ui().clear(); }
  static void file(const std::string& path, std::time_t t) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(fixtures::write_with_time(path, "x", t));
  }
};

TEST_F(MultiCam, TheTableCountsOnlyImagesAndListsEmptyFoldersLast) {
  MultiCamera m;
  ASSERT_TRUE(m.add_folders({sidecars, a, b + "/", a + "/../camA"}));  // camA only once
  const auto& f = m.folders();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].path + " " + f[1].path + " " + f[2].path, b + " " + a + " " + sidecars);
  EXPECT_EQ(f[0].image_count, 2);
  EXPECT_EQ(f[0].start, kT + 10 - 3600);
  EXPECT_EQ(f[0].stop, kT + 30 - 3600);
  EXPECT_EQ(f[1].image_count, 3);
  EXPECT_EQ(f[2].image_count, 0);
  m.sort_by(MultiCamColumn::kImages);
  EXPECT_EQ(f[0].path + " " + f[1].path + " " + f[2].path, b + " " + a + " " + sidecars);
  EXPECT_EQ(m.parent_folder(), dir / "shoot");
  EXPECT_FALSE(m.add_folders({dir / "missing"}));
  EXPECT_EQ(f.size(), 3u);

  // Choosing asks before replacing, then offers the parent's subfolders.
  captured_ui().yes_no_answers = {true};
  captured_ui().text_answers = {sidecars};
  std::vector<std::string> offered;
  ASSERT_TRUE(m.choose(dir.str(), [&](const std::string&, const std::vector<std::string>& names) {
    offered = names;
    return std::vector<std::string>{"sidecars"};
  }));
  EXPECT_EQ(offered, (std::vector<std::string>{"camA", "camB", "sidecars"}));
  EXPECT_EQ(captured_ui().questions.front(), "Replace listed folders?");
  EXPECT_THAT(captured_ui().alerts.back(), StartsWith("Folder(s) chosen contain no images."));
  EXPECT_EQ(m.note(), "Folders added manually.");
  EXPECT_EQ(m.folders().size(), 1u);
}

TEST_F(MultiCam, AdjustMovesTheSelectedRowsByTheFirstOnesDelta) {
  EXPECT_EQ(adjustment_message(3630),
            "1 hour(s), 30 second(s) will be added to each selected Start and Stop date/time in "
            "table.\n\nFiles on disk will not be affected until you press Sync Files.\n\nAdjust "
            "Date/Time?");
  EXPECT_THAT(adjustment_message(-172800), StartsWith("2 day(s) will be subtracted from each"));
  EXPECT_THAT(adjustment_message(-90061),
              StartsWith("1 day(s), 1 hour(s), 1 minute(s), 1 second(s) will be subtracted"));

  MultiCamera m;
  ASSERT_TRUE(m.add_folders({a, b}));
  auto& ui = captured_ui();
  const std::time_t target = kT + 10 - 3600 + 3630;  // for camB, the first row
  EXPECT_FALSE(m.adjust({1, 0}, target));            // the user says No
  EXPECT_EQ(ui.questions.back(), adjustment_message(3630));
  EXPECT_EQ(m.pending_count(), 0);
  ui.yes_no_answers = {true};
  ASSERT_TRUE(m.adjust({1, 0}, target));
  EXPECT_EQ(m.folders()[0].start, target);
  EXPECT_EQ(m.folders()[1].start, kT + 3630);
  EXPECT_EQ(m.folders()[1].adjustment, 3630);
  EXPECT_EQ(m.pending_count(), 2);

  const std::size_t asked = ui.questions.size();
  EXPECT_FALSE(m.adjust({0}, target));
  EXPECT_EQ(ui.alerts.back(), "No adjustment necessary. Date/time is unchanged.");
  EXPECT_EQ(ui.questions.size(), asked);
  m.clear_adjustments();
  EXPECT_EQ(m.pending_count(), 0);
  EXPECT_EQ(m.folders()[0].start, kT + 10 - 3600);
}

TEST_F(MultiCam, SyncWritesTheTimesAndAFailureLeavesItsFolderPending) {
  static int writes;
  writes = 0;
  Sysio table = system_sysio();
  table.lutimens = [](const char* path, const struct timespec times[2]) {
    ++writes;
    if (std::strstr(path, "A_1.JPG")) return errno = EIO, -1;
    return system_sysio().lutimens(path, times);
  };
  ScopedSysio faults(table);
  MultiCamera m;
  ASSERT_TRUE(m.add_folders({a, b}));
  auto& ui = captured_ui();
  ui.yes_no_answers = {true};
  ASSERT_TRUE(m.sync_files());
  EXPECT_EQ(writes, 0);  // nothing pending, nothing touched
  EXPECT_EQ(ui.alerts.back(), "Synchronized 0 folder(s) containing 0 total images.");

  ui.yes_no_answers = {true, true};
  ASSERT_TRUE(m.shift({0, 1}, 3600));
  const std::optional<SyncCounts> counts = m.sync_files();
  ASSERT_TRUE(counts);
  EXPECT_FALSE(counts->complete);
  EXPECT_EQ(counts->folders, 1);
  EXPECT_EQ(counts->images, 2);
  EXPECT_EQ(ui.alerts[ui.alerts.size() - 2],
            "Can't change modification time of file \"" + a + "/A_1.JPG\". (error code 5)");
  struct stat st;
  ASSERT_EQ(::stat((b + "/B_0.JPG").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kT + 10);
  EXPECT_EQ(st.st_atime, kT + 10);
  EXPECT_EQ(mtime_of(outside), kT - 5000);  // the link in camB was not followed
  EXPECT_EQ(mtime_of(a + "/A_0.JPG"), kT);  // put back: camA is still pending as a whole
  EXPECT_EQ(m.pending_count(), 1);
  EXPECT_FALSE(m.merged_images());
  EXPECT_THAT(ui.alerts.back(), StartsWith("There are pending adjustments."));

  ScopedSysio no_faults(system_sysio());
  // A stop asked after camA's first image puts that image back, as a failure does.
  std::vector<std::pair<int, int>> told;
  const SyncCounts stopped = m.write_adjustments([&](int done, int total) {
    told.emplace_back(done, total);
    return done == 1;
  });
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(told, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}}));
  EXPECT_EQ(mtime_of(a + "/A_0.JPG"), kT);
  EXPECT_EQ(m.pending_count(), 1);
  ui.yes_no_answers = {true};
  ASSERT_TRUE(m.sync_files()->complete);
  EXPECT_EQ(mtime_of(a + "/A_1.JPG"), kT + 3620);
  EXPECT_EQ(m.pending_count(), 0);
}

TEST_F(MultiCam, ReIngestTakesImagesByTimeThenByName) {
  file(b + "/B_5.JPG", kT + 20);  // the time of camA's A_1, whose folder comes second
  MultiCamera m;
  ASSERT_TRUE(m.add_folders({a, b}));
  StartRequest r;
  ASSERT_TRUE(m.reingest_request(r));
  EXPECT_EQ(r.source, dir / "shoot");
  EXPECT_EQ(*r.chosen_images,
            (std::vector<std::string>{b + "/B_0.JPG", b + "/B_1.JPG", a + "/A_0.JPG",
                                      a + "/A_1.JPG", b + "/B_5.JPG", a + "/A_2.JPG"}));
}

TEST_F(MultiCam, ReIngestCorrectsCaptureTimesByWhatSyncsWroteOrWhatIsPending) {
  const std::string journal = dir / "user/multicam-sync.txt";
  MultiCamera m(journal);
  ASSERT_TRUE(m.add_folders({a, b}));
  auto identity = [](const std::string& path) {
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return std::pair(st.st_dev, st.st_ino);
  };
  auto shifts_of = [&](const StartRequest& r) {
    std::map<std::string, CaptureShift> found;
    for (const std::string& path : *r.chosen_images)
      if (std::optional<CaptureShift> s = r.capture_shifts.find(path))
        found[fs::path(path).filename().string()] = *s;
    return found;
  };
  using Shifts = std::map<std::string, CaptureShift>;

  // Pending, for the ingestion only: camB an hour later in both clocks, its files untouched.
  captured_ui().yes_no_answers = {true};
  ASSERT_TRUE(m.shift({0}, 3600));  // camB, the earlier folder
  StartRequest pending;
  EXPECT_FALSE(m.reingest_request(pending));
  ASSERT_TRUE(m.reingest_request(pending, true));
  EXPECT_EQ(*pending.chosen_images,
            (std::vector<std::string>{a + "/A_0.JPG", b + "/B_0.JPG", a + "/A_1.JPG",
                                      b + "/B_1.JPG", a + "/A_2.JPG"}));
  EXPECT_EQ(shifts_of(pending), (Shifts{{"B_0.JPG", {3600, 3600}}, {"B_1.JPG", {3600, 3600}}}));
  EXPECT_EQ(mtime_of(b + "/B_0.JPG"), kT + 10 - 3600);
  EXPECT_FALSE(fs::exists(journal));

  // Synced: the file times carry the shift, the times inside the files still need it, in this
  // session and in the next one, which reads the journal.
  const auto b0 = identity(b + "/B_0.JPG");
  ASSERT_TRUE(m.write_adjustments().complete);
  for (const MultiCamera* shoot : std::vector<const MultiCamera*>{&m, nullptr}) {
    MultiCamera next(journal);
    ASSERT_TRUE(next.add_folders({a, b}));
    StartRequest synced;
    captured_ui().clear();
    ASSERT_TRUE((shoot ? *shoot : next).reingest_request(synced));
    EXPECT_EQ(*synced.chosen_images, *pending.chosen_images);
    EXPECT_EQ(shifts_of(synced), (Shifts{{"B_0.JPG", {3600, 0}}, {"B_1.JPG", {3600, 0}}}));
    EXPECT_EQ(captured_ui().pane,
              "Capture times of 2 image(s) in \"" + b +
                  "\" corrected by 3600 seconds, as synchronized earlier (their EXIF dates still "
                  "show the camera's clock).\n");
  }
  EXPECT_EQ(identity(b + "/B_0.JPG"), b0);

  // A file changed since its sync is named and left as it is; an ingestion-only shift adds to
  // what the syncs wrote.
  ASSERT_TRUE(fixtures::write_with_time(b + "/B_1.JPG", "x", kT + 31));
  MultiCamera later(journal);
  ASSERT_TRUE(later.add_folders({a, b}));
  ASSERT_TRUE(later.shift({*later.row_of(b + "/")}, -5, false));
  captured_ui().clear();
  StartRequest changed;
  ASSERT_TRUE(later.reingest_request(changed, true));
  EXPECT_EQ(shifts_of(changed), (Shifts{{"B_0.JPG", {3595, -5}}, {"B_1.JPG", {-5, -5}}}));
  EXPECT_THAT(captured_ui().pane,
              ::testing::HasSubstr("1 image(s) in \"" + b +
                                   "\" were synchronized earlier but have changed since: their "
                                   "capture times are taken as they are.\n"));
}

TEST(MultiCamJournal, SyncsAddUpAreMergedBetweenProgramsAndEndWhenUndone) {
  test::TempDir dir;
  const std::string journal = dir / "journal.txt";
  const std::string odd = dir / "odd\nname\\x.JPG", plain = dir / "plain.JPG";
  ASSERT_TRUE(fixtures::write_with_time(odd, "x", 1000));
  ASSERT_TRUE(fixtures::write_with_time(plain, "y", 1000));
  auto stat_of = [](const std::string& path, std::time_t when = -1) {
    if (when >= 0) {
      EXPECT_TRUE(fixtures::write_with_time(path, test::read_file(path), when));
    }
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st;
  };
  const struct stat odd0 = stat_of(odd);
  SyncJournal first(journal), second(journal);
  first.wrote(odd, odd0, -300, stat_of(odd, 700));
  const struct stat odd1 = stat_of(odd);
  first.wrote(odd, odd1, 20, stat_of(odd, 720));
  EXPECT_EQ(first.lookup(odd, stat_of(odd)).shift, -280);
  ASSERT_TRUE(first.save());
  // Another program that read the journal before records its own file.
  const struct stat plain0 = stat_of(plain);
  second.wrote(plain, plain0, 60, stat_of(plain, 1060));
  ASSERT_TRUE(second.save());
  {
    SyncJournal reread(journal);
    const SyncLookup o = reread.lookup(odd, stat_of(odd)), p = reread.lookup(plain, stat_of(plain));
    EXPECT_EQ(o.state, SyncState::kSynced);
    EXPECT_EQ(o.shift, -280);
    EXPECT_EQ(p.state, SyncState::kSynced);
    EXPECT_EQ(p.shift, 60);
    // Moved back where the camera put it: nothing is left to correct.
    const struct stat plain1 = stat_of(plain);
    reread.wrote(plain, plain1, -60, stat_of(plain, 1000));
    ASSERT_TRUE(reread.save());
  }
  SyncJournal last(journal);
  EXPECT_EQ(last.lookup(plain, stat_of(plain)).state, SyncState::kNone);
  EXPECT_EQ(last.lookup(odd, stat_of(odd, 721)).state, SyncState::kChangedSince);

  // A journal that cannot be written says so and keeps what it knows.
  captured_ui().clear();
  SyncJournal blocked(plain + "/journal.txt");
  const struct stat odd2 = stat_of(odd);
  blocked.wrote(odd, odd2, 5, stat_of(odd, 726));
  EXPECT_FALSE(blocked.save());
  EXPECT_THAT(captured_ui().alerts.back(),
              StartsWith("Can't record the synchronized times in \"" + plain + "/journal.txt\""));
  EXPECT_EQ(blocked.lookup(odd, stat_of(odd)).state, SyncState::kSynced);
}

TEST(MultiCamTime, LocalTargetsMatchPythonAcrossSummerTimeChanges) {
  const char* saved = std::getenv("TZ");
  const std::string restore = saved ? saved : "";
  // Clock times that do not exist or occur twice, each after a time of the other season.
  const std::pair<const char*, const char*> kCases[] = {
      {"Europe/Berlin", "2024-03-31 02:30:00"},    {"Europe/Berlin", "2024-03-31 03:30:00"},
      {"Europe/Berlin", "2024-10-27 02:30:00"},    {"Europe/Berlin", "2024-10-27 03:30:00"},
      {"America/New_York", "2024-01-15 12:00:00"}, {"America/New_York", "2024-11-03 01:30:00"},
  };
  for (const auto& [zone, text] : kCases) {
    setenv("TZ", zone, 1);
    tzset();
    std::string out;
    test::run_command("TZ=" + std::string(zone) +
                          " /usr/bin/python3 -c 'import sys, time; f = [int(x) for x in "
                          "sys.argv[1].replace(\"-\", \" \").replace(\":\", \" \").split()]; "
                          "print(int(time.mktime(tuple(f) + (0, 0, -1))))' " +
                          sh_quote(text),
                      &out);
    const std::optional<std::time_t> ours = parse_local_time(text);
    ASSERT_TRUE(ours) << text;
    EXPECT_EQ(std::to_string(*ours) + "\n", out) << zone << " " << text;
  }
  for (const char* bad : {"2024-02-30 10:00:00", "2024-1-01 10:00:00", "2024-01-01 24:00:00"})
    EXPECT_FALSE(parse_local_time(bad)) << bad;
  if (saved)
    setenv("TZ", restore.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST_F(MultiCam, TheCommandLineSyncsACameraThenIngestsInTimeOrder) {
  std::string out;
  ASSERT_EQ(test::run_cardwright("multicam sync --shift 3600 --yes " + sh_quote(b), &out), 0)
      << out;
  struct stat st;
  ASSERT_EQ(::stat((b + "/B_1.JPG").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, kT + 30);

  // The order an independent reader of the files' times and names gives.
  test::write_file(dir / "order.py",
                   "import os, sys\n"
                   "images = []\n"
                   "for d in sys.argv[1:]:\n"
                   "    for n in os.listdir(d):\n"
                   "        p = os.path.join(d, n)\n"
                   "        if n.startswith('.') or n.lower().endswith('.xmp'): continue\n"
                   "        if os.path.islink(p) or not os.path.isfile(p): continue\n"
                   "        images.append((os.lstat(p).st_mtime_ns // 10**9, n))\n"
                   "print(' '.join(n for t, n in sorted(images)))\n");
  std::string expected;
  ASSERT_EQ(test::run_command("/usr/bin/python3 " + sh_quote(dir / "order.py") + " " + sh_quote(a) +
                                  " " + sh_quote(b),
                              &expected),
            0);
  const std::string archive = dir / "archive";
  ASSERT_EQ(test::run_cardwright("multicam ingest --primary " + sh_quote(archive) +
                                     " --no-backup --no-jpeg-verify --folder-format '' "
                                     "--name-format '{@sequence,-3}_{@filename}' " +
                                     sh_quote(a) + " " + sh_quote(b),
                                 &out),
            0)
      << out;
  EXPECT_THAT(out,
              ::testing::HasSubstr("Card Folder: [multi-camera or user-chosen image files]\n"));
  std::vector<std::string> copied;
  for (const auto& e : fs::directory_iterator(archive))
    if (e.is_regular_file() && e.path().extension() != ".xmp")
      copied.push_back(e.path().filename().string());
  std::sort(copied.begin(), copied.end());
  std::string numbered;
  for (const std::string& name : copied) {
    if (!numbered.empty()) numbered += ' ';
    numbered.append(name, 4);
  }
  EXPECT_EQ(numbered + "\n", expected);
  EXPECT_EQ(copied.size(), 5u);
}

// Camera A's clock is right; camera B's runs 3792 s ahead, and its true times fall just before
// midnight, so that its wrong clock puts its images into the next day. Names and folders are
// made of {@datetimeany}: the EXIF date, or the file's time for a file without EXIF (the WAV).
TEST(MultiCamClock, NamesAndFoldersFollowTheCorrectedClockAndSourcesStayAsTheyWere) {
  test::TempDir dir;
  const std::string a = dir / "shoot/camA", b = dir / "shoot/camB";
  std::tm day{};
  day.tm_year = 2024 - 1900;
  day.tm_mon = 4;
  day.tm_mday = 17;
  day.tm_hour = 23;
  day.tm_min = 30;
  day.tm_isdst = -1;
  const std::time_t t = std::mktime(&day);
  constexpr std::time_t kAhead = 3792;
  struct Shot {
    std::string path;
    std::time_t taken;  // the true time
    bool exif;
  };
  const std::vector<Shot> shots = {{a + "/A_1.JPG", t, true},
                                   {a + "/A_2.JPG", t + 60, true},
                                   {b + "/B_1.JPG", t + 30, true},
                                   {b + "/B_2.JPG", t + 90, true},
                                   {b + "/B_3.WAV", t + 120, false}};
  fs::create_directories(a);
  fs::create_directories(b);
  for (const Shot& s : shots) {
    const std::time_t shown = s.taken + (s.path.rfind(b, 0) == 0 ? kAhead : 0);
    ASSERT_TRUE(fixtures::write_with_time(
        s.path, s.exif ? fixtures::make_jpeg(fixtures::exif_date(shown)) : "sound", shown));
  }
  // What the names must be: the true times, stamped as the macro language stamps dates.
  std::vector<std::string> expected;
  for (const Shot& s : shots) {
    char stamp[32];
    std::tm local{};
    ASSERT_TRUE(localtime_r(&s.taken, &local));
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d/%Y%m%d_%H%M%S_", &local);
    expected.push_back(stamp + fs::path(s.path).filename().string());
  }
  std::sort(expected.begin(), expected.end());
  auto contents = [&] {
    std::vector<std::string> all;
    for (const Shot& s : shots) all.push_back(test::read_file(s.path));
    return all;
  };
  auto times = [&] {
    std::vector<long> all;
    for (const Shot& s : shots) all.push_back(mtime_of(s.path));
    return all;
  };
  const std::vector<std::string> bytes = contents();
  const std::vector<long> card_times = times();
  const std::string formats =
      " --no-backup --no-jpeg-verify --name-format '{@datetimeany}_{@filename}' "
      "--folder-format '{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}' ";
  const std::string folders = " " + sh_quote(a) + " " + sh_quote(b);
  auto planned = [&](const std::string& out, const std::string& archive) {
    std::vector<std::string> names;
    for (std::size_t at = out.find("    -> "); at != std::string::npos;
         at = out.find("    -> ", at + 1)) {
      const std::size_t from = at + 7 + archive.size() + 1;
      names.push_back(out.substr(from, out.find('\n', at) - from));
    }
    std::sort(names.begin(), names.end());
    return names;
  };

  // Without any sync: the correction is given for this run only, and nothing is changed.
  const std::string archive = dir / "archive";
  std::string out;
  ASSERT_EQ(test::run_cardwright("multicam ingest --dry-run --primary " + sh_quote(archive) +
                                     formats + "--shift " + sh_quote(b + "=-3792") + folders,
                                 &out),
            0)
      << out;
  EXPECT_EQ(planned(out, archive), expected) << out;
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_EQ(contents(), bytes);
  EXPECT_EQ(times(), card_times);

  // The sync moves B's file times, and the ingestion takes the rest from the sync journal.
  ASSERT_EQ(test::run_cardwright("multicam sync --shift -3792 --yes " + sh_quote(b), &out), 0)
      << out;
  std::vector<long> synced_times = card_times;
  for (std::size_t i = 2; i < shots.size(); ++i) synced_times[i] -= kAhead;
  EXPECT_EQ(times(), synced_times);
  ASSERT_EQ(test::run_cardwright("multicam ingest --dry-run --primary " + sh_quote(archive) +
                                     formats + folders,
                                 &out),
            0)
      << out;
  EXPECT_EQ(planned(out, archive), expected) << out;
  EXPECT_THAT(out, ::testing::HasSubstr("Capture times of 3 image(s) in \"" + b +
                                        "\" corrected by -3792 seconds"));
  EXPECT_FALSE(fs::exists(archive));

  ASSERT_EQ(test::run_cardwright("multicam ingest --primary " + sh_quote(archive) + formats + folders,
                                 &out),
            0)
      << out;
  std::vector<std::string> copied;
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.is_regular_file() && e.path().extension() != ".xmp" &&
        e.path().parent_path().filename() != "Manifests") {
      copied.push_back(fs::relative(e.path(), archive).string());
      // The copies' EXIF is the camera's, byte for byte.
      const std::string name = e.path().filename().string();
      for (std::size_t i = 0; i < shots.size(); ++i) {
        if (name.size() > 16 && name.substr(16) == fs::path(shots[i].path).filename().string()) {
          EXPECT_EQ(test::read_file(e.path()), bytes[i]) << name;
        }
      }
    }
  std::sort(copied.begin(), copied.end());
  EXPECT_EQ(copied, expected);
  EXPECT_EQ(contents(), bytes);
  EXPECT_EQ(times(), synced_times);
  // Nothing was put beside the images.
  EXPECT_EQ(std::distance(fs::directory_iterator(b), fs::directory_iterator()), 3);
}

}  // namespace
}  // namespace cw
