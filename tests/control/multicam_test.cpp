// The multi-camera shoot: its table, adjustments, synchronised times and merged order.
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
#include "tests/fixtures/sample_card.h"
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
    ASSERT_TRUE(fixtures::write_with_time(path, "x", t));
  }
};

TEST_F(MultiCam, TheTableCountsOnlyImagesAndListsEmptyFoldersLast) {
  MultiCamera m(test::captured_ui());
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

  MultiCamera m(test::captured_ui());
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
  MultiCamera m(test::captured_ui());
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
  MultiCamera m(test::captured_ui());
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
  using Shifts = std::map<std::string, CaptureShift>;
  auto shifts_of = [](const StartRequest& r) {
    Shifts found;
    for (const std::string& path : *r.chosen_images)
      if (std::optional<CaptureShift> s = r.capture_shifts.find(path))
        found[fs::path(path).filename().string()] = *s;
    return found;
  };
  // Pending, for the ingestion only: camB an hour later in both clocks, no file touched.
  MultiCamera m(test::captured_ui(), journal);
  ASSERT_TRUE(m.add_folders({a, b}));
  ASSERT_TRUE(m.shift({0}, 3600, false));  // camB, the earlier folder
  StartRequest pending;
  EXPECT_FALSE(m.reingest_request(pending));
  ASSERT_TRUE(m.reingest_request(pending, true));
  EXPECT_EQ(*pending.chosen_images,
            (std::vector<std::string>{a + "/A_0.JPG", b + "/B_0.JPG", a + "/A_1.JPG",
                                      b + "/B_1.JPG", a + "/A_2.JPG"}));
  EXPECT_EQ(shifts_of(pending), (Shifts{{"B_0.JPG", {3600, 3600}}, {"B_1.JPG", {3600, 3600}}}));
  EXPECT_EQ(mtime_of(b + "/B_0.JPG"), kT + 10 - 3600);

  // Synced: the file times carry the shift; the times inside the files still need it, also
  // for the next program, which reads the journal.
  ASSERT_TRUE(m.write_adjustments().complete);
  MultiCamera next(test::captured_ui(), journal);
  ASSERT_TRUE(next.add_folders({a, b}));
  StartRequest synced;
  captured_ui().clear();
  ASSERT_TRUE(next.reingest_request(synced));
  EXPECT_EQ(*synced.chosen_images, *pending.chosen_images);
  EXPECT_EQ(shifts_of(synced), (Shifts{{"B_0.JPG", {3600, 0}}, {"B_1.JPG", {3600, 0}}}));
  EXPECT_EQ(captured_ui().pane, "Capture times of 2 image(s) in \"" + b +
                                    "\" corrected by 3600 seconds, as synchronized earlier "
                                    "(their EXIF dates still show the camera's clock).\n");

  // A file changed since its sync is named and taken as it is; a shift for the ingestion adds
  // to what the syncs wrote.
  ASSERT_TRUE(fixtures::write_with_time(b + "/B_1.JPG", "x", kT + 31));
  ASSERT_TRUE(next.shift({*next.row_of(b + "/")}, -5, false));
  captured_ui().clear();
  StartRequest changed;
  ASSERT_TRUE(next.reingest_request(changed, true));
  EXPECT_EQ(shifts_of(changed), (Shifts{{"B_0.JPG", {3595, -5}}, {"B_1.JPG", {-5, -5}}}));
  EXPECT_THAT(captured_ui().pane, ::testing::HasSubstr("1 image(s) in \"" + b +
                                                       "\" were synchronized earlier but have "
                                                       "changed since"));
}

TEST(MultiCamJournal, SyncsAddUpAreMergedBetweenProgramsAndEndWhenUndone) {
  test::TempDir dir;
  const std::string journal = dir / "journal.txt";
  const std::string odd = dir / "odd\nname\\x.JPG", plain = dir / "plain.JPG";
  // The file's state, after giving it the time `when` when one is given.
  auto state = [](const std::string& path, std::time_t when = -1) {
    if (when >= 0) {
      EXPECT_TRUE(fixtures::write_with_time(path, "x", when));
    }
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st;
  };
  const struct stat odd0 = state(odd, 1000), plain0 = state(plain, 1000);
  SyncJournal first(journal), second(journal);
  first.wrote(odd, odd0, -300, state(odd, 700));
  const struct stat odd1 = state(odd);
  first.wrote(odd, odd1, 20, state(odd, 720));
  ASSERT_TRUE(first.save());
  second.wrote(plain, plain0, 60, state(plain, 1060));  // read the journal before `first` saved
  ASSERT_TRUE(second.save());
  SyncJournal reread(journal);
  EXPECT_EQ(reread.lookup(odd, state(odd)).shift, -280);
  EXPECT_EQ(reread.lookup(plain, state(plain)).shift, 60);
  const struct stat plain1 = state(plain);
  reread.wrote(plain, plain1, -60, state(plain, 1000));  // back where the camera put it
  ASSERT_TRUE(reread.save());
  SyncJournal last(journal);
  EXPECT_EQ(last.lookup(plain, state(plain)).state, SyncState::kNone);
  EXPECT_EQ(last.lookup(odd, state(odd)).state, SyncState::kSynced);
  EXPECT_EQ(last.lookup(odd, state(odd, 721)).state, SyncState::kChangedSince);

  captured_ui().clear();
  SyncJournal blocked(plain + "/journal.txt");
  const struct stat odd2 = state(odd);
  blocked.wrote(odd, odd2, 5, state(odd, 726));
  EXPECT_FALSE(blocked.save());
  EXPECT_THAT(captured_ui().alerts.back(),
              StartsWith("Can't record the synchronized times in \"" + plain + "/journal.txt\""));
}

TEST(MultiCamTime, LocalTargetsMatchPythonAcrossSummerTimeChanges) {
  // Clock times that do not exist or occur twice, each after a time of the other season.
  const std::pair<const char*, const char*> kCases[] = {
      {"Europe/Berlin", "2024-03-31 02:30:00"},    {"Europe/Berlin", "2024-03-31 03:30:00"},
      {"Europe/Berlin", "2024-10-27 02:30:00"},    {"Europe/Berlin", "2024-10-27 03:30:00"},
      {"America/New_York", "2024-01-15 12:00:00"}, {"America/New_York", "2024-11-03 01:30:00"},
  };
  for (const auto& [zone, text] : kCases) {
    test::ScopedZone scoped(zone);
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
}

// Camera A's clock is right; camera B's runs 3792 s ahead, and its true times fall just before
// midnight, so that its wrong clock puts its images into the next day. Names and folders are
// made of {@datetimeany}: the EXIF date, or the file's time for a file without EXIF (the WAV).
TEST(MultiCamClock, NamesAndFoldersFollowTheCorrectedClockAndSourcesStayAsTheyWere) {
  test::TempDir dir;
  const std::string a = dir / "shoot/camA", b = dir / "shoot/camB", archive = dir / "archive";
  const std::time_t t = fixtures::exif_date_to_time("2024:05:17 23:30:00");
  constexpr std::time_t kAhead = 3792;
  const std::vector<std::pair<std::string, std::time_t>> shots = {  // paths and true times
      {a + "/A_1.JPG", t}, {a + "/A_2.JPG", t + 60}, {b + "/B_1.JPG", t + 30},
      {b + "/B_2.JPG", t + 90}, {b + "/B_3.WAV", t + 120}};
  std::vector<std::string> expected, bytes;
  std::vector<long> card_times, synced_times;
  for (const auto& [path, taken] : shots) {
    const std::time_t shown = taken + (path.rfind(b, 0) == 0 ? kAhead : 0);
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(fixtures::write_with_time(
        path, path.back() == 'V' ? "sound" : fixtures::make_jpeg(fixtures::exif_date(shown)),
        shown));
    bytes.push_back(test::read_file(path));
    card_times.push_back(shown);
    synced_times.push_back(taken);
    // The name wanted: the true time, stamped as the macro language stamps dates.
    char stamp[32];
    std::tm local{};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d/%Y%m%d_%H%M%S_", localtime_r(&taken, &local));
    expected.push_back(stamp + fs::path(path).filename().string());
  }
  std::sort(expected.begin(), expected.end());
  auto sources_are = [&](const std::vector<long>& times) {
    for (std::size_t i = 0; i < shots.size(); ++i) {
      EXPECT_EQ(test::read_file(shots[i].first), bytes[i]) << shots[i].first;
      EXPECT_EQ(mtime_of(shots[i].first), times[i]) << shots[i].first;
    }
  };
  // The targets a dry run lists, below the archive.
  auto planned = [&](const std::string& out) {
    std::vector<std::string> names;
    for (std::size_t at = out.find("    -> "); at != std::string::npos;
         at = out.find("    -> ", at + 1)) {
      const std::size_t from = at + 7 + archive.size() + 1;
      names.push_back(out.substr(from, out.find('\n', at) - from));
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::string ingest =
      "multicam ingest --primary " + sh_quote(archive) +
      " --no-backup --no-jpeg-verify --name-format '{@datetimeany}_{@filename}' "
      "--folder-format '{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}' ";
  const std::string folders = " " + sh_quote(a) + " " + sh_quote(b);

  // Without a sync: the correction is given for this run only, and nothing is changed.
  std::string out;
  ASSERT_EQ(test::run_cardwright(ingest + "--dry-run --shift " + sh_quote(b + "=-3792") + folders,
                                 &out),
            0)
      << out;
  EXPECT_EQ(planned(out), expected) << out;
  sources_are(card_times);
  EXPECT_FALSE(fs::exists(archive));

  // The sync moves B's file times; the ingestion takes the rest from the sync journal.
  ASSERT_EQ(test::run_cardwright("multicam sync --shift -3792 --yes " + sh_quote(b), &out), 0)
      << out;
  sources_are(synced_times);

  ASSERT_EQ(test::run_cardwright(ingest + folders, &out), 0) << out;
  std::vector<std::string> copied;
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.is_regular_file() && e.path().extension() != ".xmp" &&
        e.path().parent_path().filename() != "Manifests")
      copied.push_back(fs::relative(e.path(), archive).string());
  std::sort(copied.begin(), copied.end());
  EXPECT_EQ(copied, expected);
  // The copies' EXIF is the camera's, byte for byte; nothing was put beside the images.
  const auto b1 = std::find_if(expected.begin(), expected.end(), [](const std::string& name) {
    return name.ends_with("_B_1.JPG");
  });
  ASSERT_NE(b1, expected.end());
  EXPECT_EQ(test::read_file(archive + "/" + *b1), bytes[2]);
  sources_are(synced_times);
  EXPECT_EQ(std::distance(fs::directory_iterator(b), fs::directory_iterator()), 3);
}

}  // namespace
}  // namespace cw
