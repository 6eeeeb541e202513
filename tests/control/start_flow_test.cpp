// The ingestion monitor in cards mode, its slots running at once; the Start flow, the run both
// front ends drive (on fake drives and eject), and the end of a run without a front end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>

#include "control/app_session.h"
#include "control/card_monitor.h"
#include "control/image_choice.h"
#include "control/ingestion_run.h"
#include "control/run_end.h"
#include "control/start_flow.h"
#include "database/database.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "settings/preferences.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::captured_ui;
using test::images_below;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

struct Cards : ::testing::Test {
  TempDir dir;
  std::string archive = dir / "archive";
  Database db;
  int key = -1;

  void SetUp() override {
    captured_ui().clear();
    ASSERT_TRUE(db.open(dir / "cards.sqlite3"));
    ASSERT_TRUE(db.install_default_entities());
    key = db.ingestion_insert(db.unknown_project(-1), db.unknown_card(), 0, 0, 0, std::nullopt);
  }
  void TearDown() override { captured_ui().clear(); }

  // A card root with `count` images from `first_capture` on.
  MonitorCard card(const std::string& name, const std::string& first_capture, int count = 2) {
    const auto spec = fixtures::jpeg_card(count, name.substr(0, 3) + "_", first_capture);
    EXPECT_EQ(fixtures::write_sample_card(dir / name, spec).size(), std::size_t(count));
    return MonitorCard{dir / name, name, "Reader"};
  }
  MonitorSetup setup() {
    MonitorSetup s;
    s.params = default_param_list();
    s.params.values[kParamCardFolder] = "[mounted cards]";
    s.params.values[kParamPrimaryFolder] = archive;
    s.params.values[kParamNameFormat] = "{@sequence}_{@filename}";
    s.params.values[kParamFolderFormat].clear();
    s.params.values[kParamWantJpegVerify] = "0";
    s.params.values[kParamIngestionId] = std::to_string(key);
    s.cards_mode = true;
    s.database = &db;
    return s;
  }
  static void run_to_end(CardMonitor& m) {
    while (m.running()) {
      m.wait_for_slot_end(std::chrono::milliseconds(50));
      m.tick();
    }
  }
  // A column of the run's ingestion record.
  std::string record(const std::string& column) {
    auto r = db.query("select " + column + " from ingestion where ingestion_sk = " +
                      std::to_string(key));
    return r && !r->rows.empty() ? r->rows[0][0] : "";
  }
};

TEST_F(Cards, SlotsNameInTheOrderOfTheirFirstImagesAndAFailureIsRed) {
  CardMonitor m(setup());
  // Eight slots: three timed cards, one left unticked, one that cannot be read and three
  // more; a ninth card finds no slot.
  m.refresh({card("late", "2024:05:17 10:05:00"), card("early", "2024:05:17 09:00:00"),
             card("middle", "2024:05:17 09:30:00"), card("unticked", "2024:05:17 08:00:00"),
             MonitorCard{dir / "no-card", "BROKEN", ""}, card("six", "2024:05:17 11:00:00", 1),
             card("seven", "2024:05:17 11:01:00", 1), card("eight", "2024:05:17 11:02:00", 1),
             card("nine", "2024:05:17 07:00:00", 1)});
  MonitorView v = m.snapshot();
  EXPECT_EQ(v.card_count, 8);
  EXPECT_EQ(v.slots[1].title, "early (" + (dir / "early") + ", Reader)");
  EXPECT_EQ(v.slots[4].title, "BROKEN (" + (dir / "no-card") + ")");  // a reader without a name
  m.set_ticked(3, false);
  m.start();
  run_to_end(m);

  // Sequence numbers follow the first images' times; the unticked slot took no part and
  // held up nobody, and the broken card ended before the gate without holding it either.
  for (const char* name : {"000001_ear_0001.JPG", "000002_ear_0002.JPG", "000003_mid_0001.JPG",
                           "000005_lat_0001.JPG", "000006_lat_0002.JPG", "000009_eig_0001.JPG"})
    EXPECT_TRUE(fs::exists(archive + "/" + name)) << name;
  EXPECT_FALSE(fs::exists(archive + "/000001_nin_0001.JPG"));

  v = m.snapshot();
  EXPECT_EQ(v.slots[3].status_line, "Skipped");
  EXPECT_EQ(v.slots[3].status_colour, kSlotGrey);
  EXPECT_EQ(v.slots[0].status_colour, kSlotGreen);
  EXPECT_EQ(v.slots[4].status_colour, kSlotRed);
  EXPECT_THAT(v.slots[4].status_line, HasSubstr("error opening path"));
  EXPECT_EQ(v.status_line, "Error(s) occurred");
  EXPECT_TRUE(v.start_enabled);  // cards mode can start again
  EXPECT_FALSE(m.outcome()->success);
  EXPECT_EQ(m.outcome()->next_number, 10);
  // The record counts the images the other cards gave all the same.
  const RunVerdict& failed = m.outcome()->end.verdict;
  EXPECT_EQ(failed.level, VerdictLevel::kError);
  EXPECT_EQ(failed.detail,
            v.slots[4].title + ": error opening path: \"" + (dir / "no-card/DCIM") + "\"");
  EXPECT_THAT(captured_ui().alerts.back(), HasSubstr("Ingestion Error!\r\r" + failed.detail));
  EXPECT_THAT(record("result"), HasSubstr("error opening path"));
  EXPECT_THAT(record("result"), Not(HasSubstr("SUCCESS")));
  EXPECT_EQ(record("image_count"), "9");

  // Without the broken card the same monitor succeeds, summing the slots' counts.
  m.set_ticked(4, false);
  fs::remove_all(archive);
  m.start();
  run_to_end(m);
  EXPECT_TRUE(m.outcome()->success);
  EXPECT_THAT(record("result"), HasSubstr("SUCCESS"));
  EXPECT_EQ(record("image_count"), "9");
  // Each card ingested has its line under one headline.
  const RunVerdict& done = m.outcome()->end.verdict;
  EXPECT_EQ(done.headline, "Cards safe to format");
  EXPECT_EQ(std::count(done.detail.begin(), done.detail.end(), '\n'), 5);
  EXPECT_THAT(done.detail, HasSubstr(v.slots[0].title + ": all 2 images have verified copies in 1 "
                                                        "tree\n"));
  EXPECT_THAT(m.snapshot().status_line, HasSubstr("Ingestions completed (9 images in"));
}

// The test holds the order gate from before the start to the end: no slot can get past naming
// before the stop reaches it, however the threads are scheduled.
TEST_F(Cards, StopEndsEveryRunningSlot) {
  CardMonitor m(setup());
  m.refresh({card("one", "2024:05:17 10:00:00"), card("two", "2024:05:17 11:00:00")});
  std::optional<OrderGate::Ticket> held = m.order_gate().try_enter(-1, 0);
  ASSERT_TRUE(held);
  m.start();
  m.stop();
  run_to_end(m);
  const MonitorView v = m.snapshot();
  for (int slot : {0, 1}) {
    EXPECT_EQ(v.slots[slot].status_colour, kSlotOrange) << v.slots[slot].status_line;
    EXPECT_THAT(v.slots[slot].status_line, HasSubstr("Stopped"));
  }
  EXPECT_EQ(v.status_line, "Stopped by user");
  EXPECT_TRUE(m.outcome()->stopped_by_user);
  EXPECT_THAT(record("result"), EndsWith("Stopped by user"));
  EXPECT_THAT(captured_ui().pane, HasSubstr("\nStopped by user\n"));
  EXPECT_THAT(captured_ui().alerts.back(), HasSubstr("Ingestion was stopped"));
}

// The user folder (database and log) on a small file system that is full when the copies are
// done: neither the record nor the log can be written.
TEST_F(Cards, RunWhoseRecordAndLogCannotBeWrittenFails) {
  test::SmallFileSystem data(dir / "data", "512k");
  if (!data.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_TRUE(db.open(data.mount_point + "/cw_main.sqlite3"));
  ASSERT_TRUE(db.install_default_entities());
  key = db.ingestion_insert(db.unknown_project(-1), db.unknown_card(), 0, 0, 0, std::nullopt);
  log_set_path(data.mount_point + "/cw_log.txt");
  data.fill();
  // The log's last page still has room: use it up.
  for (int before = log_write_failures(), i = 0; log_write_failures() == before && i < 100; ++i)
    log_printf("%s", std::string(200, 'x').c_str());
  CardMonitor m(setup());
  m.refresh({card("full", "2024:05:17 10:00:00")});
  m.start();
  run_to_end(m);
  log_set_path((test::test_root() / "cw_log.txt").string());
  db.close();
  EXPECT_TRUE(fs::exists(archive + "/000001_ful_0001.JPG"));
  EXPECT_FALSE(m.outcome()->success);
  EXPECT_THAT(captured_ui().pane, HasSubstr("ERROR: Can't write the ingestion record"));
  EXPECT_THAT(captured_ui().pane, HasSubstr("ERROR: Can't write the run log"));
}

struct StartFlow : ::testing::Test {
  TempDir dir;
  std::string card = dir / "card", archive = dir / "archive";
  FakeDriveSource drives;
  std::mutex ejected_mutex;
  std::vector<std::string> ejected;
  std::unique_ptr<AppSession> session;

  void SetUp() override {
    captured_ui().clear();
    // Every test starts as a first run: no presets, database or preferences of earlier tests.
    for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"})
      fs::remove_all(fs::path(std::getenv(var)) / "CardwrightPro");
    fixtures::CardSpec spec;
    spec.count = 6;  // images 3 and 6 are raws
    ASSERT_EQ(fixtures::write_sample_card(card, spec).size(), 6u);
    ASSERT_NO_FATAL_FAILURE(open_session());
  }
  void TearDown() override {
    session.reset();
    captured_ui().clear();
  }

  // A session over the fake drives, whose ejects are recorded, and `cameras` when given.
  void open_session(std::unique_ptr<CameraSource> cameras = nullptr) {
    session.reset();
    SessionServices services;
    services.drives = [this] { return std::make_unique<FakeDriveSource>(drives); };
    services.eject = [this](const std::string& root, std::FILE*) {
      std::lock_guard<std::mutex> hold(ejected_mutex);
      ejected.push_back(root);
      return true;
    };
    services.cameras = std::move(cameras);
    session = std::make_unique<AppSession>(captured_ui(), kSessionIngest, std::move(services));
    ASSERT_TRUE(session->ok());
  }
  // A mounted card of `count` images; its root.
  std::string mounted_card(const std::string& name, int count) {
    const auto spec = fixtures::jpeg_card(count, name.substr(0, 3) + "_");
    EXPECT_EQ(fixtures::write_sample_card(dir / name, spec).size(), std::size_t(count));
    drives.add_card(dir / name, name, "Reader", "SD");
    return dir / name;
  }
  // A request for the sample card (or `source`) into the archive without a backup, the values
  // `given` on top.
  StartRequest request(const std::vector<std::pair<ParamPos, std::string>>& given = {},
                       const std::string& source = "") {
    StartRequest r;
    r.source = source.empty() ? card : source;
    r.given.values[kParamPrimaryFolder] = archive;
    r.given.values[kParamWantBackup] = "0";
    for (const auto& [pos, value] : given) r.given.values[pos] = value;
    return r;
  }
  // Runs a started ingestion to its end and hands it off, the way a front end does.
  static RunFinish finish_run(IngestionRun& run) {
    while (run.tick()) run.wait(std::chrono::milliseconds(50));
    return run.finish();
  }
  // Prepares and runs, the viewer's launches into `launched`; the stop reason when the Start
  // flow stopped. How the run ended is in `finished`.
  StartStop ingest(const StartRequest& r, std::vector<std::string>* launched = nullptr) {
    RunHooks hooks;
    hooks.launch = [launched](const std::string& program, const std::vector<std::string>& args) {
      if (launched) launched->push_back(program + (args.empty() ? "" : " " + args[0]));
      return true;
    };
    IngestionRun run(*session, std::move(hooks));
    const StartStop stop = run.prepare(r).stop;
    finished = run.start() ? finish_run(run) : RunFinish{};
    return stop;
  }
  RunFinish finished;
  // A column of the newest ingestion, or of ingestion `key`.
  std::string record(const std::string& column, int key = -1) {
    const std::string where = key < 0 ? "order by ingestion_sk desc limit 1"
                                      : "where ingestion_sk = " + std::to_string(key);
    auto r = session->database()->query(
        "select ifnull(" + column + ", 'NULL') from ingestion join project on project_sk = "
        "project_id join client on client_sk = client_id join card on card_sk = card_id " + where);
    return r && !r->rows.empty() ? r->rows[0][0] : "";
  }
  int records() { return session->database()->ingestion_count(); }
  CWPreset& master() { return session->settings().master(); }
};

TEST_F(StartFlow, ARunLeavesACompleteRecordNewNamesAskedAndTheChoicesCarryOver) {
  StartRequest r = request({{kParamStartingNumber, "1"}});
  r.client = "O'Brien";
  r.project = "50% Reception";
  r.card_name = "#7";
  r.notes = "Hall B";
  // Names typed in the window are added after a Yes (the next test answers No).
  r.confirm_new_names = true;
  captured_ui().yes_no_answers = {true};
  ASSERT_EQ(ingest(r), StartStop::kNone) << captured_ui().pane;
  EXPECT_EQ(captured_ui().questions,
            std::vector<std::string>{
                "Add client \"O'Brien\", project \"50% Reception\" and card record \"#7\"?"});
  EXPECT_EQ(images_below(archive), 6u);
  EXPECT_EQ(record("result"), "SUCCESS");
  EXPECT_EQ(record("image_count"), "6");
  EXPECT_EQ(record("number_start") + "-" + record("number_stop"), "1-6");
  EXPECT_EQ(record("client.name") + "|" + record("project.name") + "|" + record("card.name") +
                "|" + record("notes"),
            "O'Brien|50% Reception|#7|Hall B");
  const std::string params = record("params");
  EXPECT_THAT(params, ::testing::StartsWith("Source: " + card + "\n"));
  EXPECT_THAT(params, HasSubstr("\nClient: O'Brien\nProject: 50% Reception\n"));
  EXPECT_THAT(captured_ui().pane,
              HasSubstr("\nClient: O'Brien (new)\nProject: 50% Reception (new)\n"
                        "Card record: #7 (new)\n"));
  EXPECT_THAT(captured_ui().pane, HasSubstr("\nFinished\n"));
  EXPECT_EQ(captured_ui().status, "Successful ingestion");
  EXPECT_EQ(starting_number(), "7");

  // The next program start takes the same names, though no master preset was ever saved.
  // (Another archive: in this one every image is archived already.)
  ASSERT_NO_FATAL_FAILURE(open_session());
  archive = dir / "archive2";
  r = request({{kParamFolderFormat, "{@client.name}/{@project.name}/{@card.name}"}});
  ASSERT_EQ(ingest(r), StartStop::kNone);
  EXPECT_EQ(record("client.name") + "|" + record("project.name") + "|" + record("card.name"),
            "O'Brien|50% Reception|#7");
  const std::string carried = " (carried over from the last ingestion)\n";
  EXPECT_THAT(captured_ui().pane,
              HasSubstr("\nIngestion " + record("ingestion_sk") + "\nClient: O'Brien" + carried +
                        "Project: 50% Reception" + carried + "Card record: #7" + carried));
  EXPECT_EQ(images_below(archive + "/O'Brien/50% Reception/#7"), 6u);
  EXPECT_THAT(record("params"), HasSubstr("\nStartNum: 7\n"));
  // The run's key, all that changed in the stored preset, was stored while it copied.
  ASSERT_NO_FATAL_FAILURE(open_session());
  EXPECT_EQ(master().get_str("LastDB_Ingestion"), record("ingestion_sk"));
}

// Not even the "[unknown]" project the record of a client without one would need.
TEST_F(StartFlow, DecliningNewNamesOrADryRunAddsNothingToTheDatabase) {
  Database& db = *session->database();
  ASSERT_GT(db.client_add("Smith", "", false), 0);
  auto rows = [&] {
    auto r = db.query("select (select count(*) from client) || '/' || (select count(*) from "
                      "project) || '/' || (select count(*) from card) || '/' || (select "
                      "count(*) from ingestion)");
    return r && !r->rows.empty() ? r->rows[0][0] : "";
  };
  const std::string before = rows();
  StartRequest r = request();
  r.client = "Smith";
  r.card_name = "#9";
  r.confirm_new_names = true;
  captured_ui().yes_no_answers = {false};
  EXPECT_EQ(prepare_ingestion(*session, r).stop, StartStop::kNameDeclined);
  EXPECT_EQ(captured_ui().questions, std::vector<std::string>{"Add card record \"#9\"?"});
  EXPECT_EQ(rows(), before);

  r.confirm_new_names = false;
  r.dry_run = true;
  const StartOutcome dry = prepare_ingestion(*session, r);
  ASSERT_TRUE(dry.run);
  EXPECT_EQ(dry.run->entities.client_name + "|" + dry.run->entities.project_name + "|" +
                dry.run->entities.card_name,
            "Smith|[unknown]|#9");
  EXPECT_EQ(rows(), before);
}

TEST_F(StartFlow, PresetValuesReachTheListAndTheRequestOverridesThem) {
  master().put_str("ExtensionsMRU", "Include: JPG");
  master().put_str("PrimaryFolder", archive);
  master().put_int("WantBackup", 0);
  StartRequest r;
  r.source = card;
  ASSERT_EQ(ingest(r), StartStop::kNone) << captured_ui().pane;
  EXPECT_EQ(images_below(archive), 4u);  // the JPEGs
  EXPECT_THAT(record("params"), HasSubstr("\nInclude?: 1\nExtensions: JPG\n"));

  const std::string raws = dir / "raws";
  r.given.values[kParamExtensions] = "CR2";
  r.given.values[kParamPrimaryFolder] = raws;
  ASSERT_EQ(ingest(r), StartStop::kNone);
  EXPECT_EQ(images_below(raws), 2u);
  EXPECT_THAT(record("params"), HasSubstr("\nPrimary: " + raws + "\n"));
}

TEST_F(StartFlow, EveryStopLeavesItsReasonInTheRecord) {
  // Stops before the record: nothing is inserted.
  const int before = records();
  StartRequest r = request();
  r.preset = "Nope";
  EXPECT_EQ(ingest(r), StartStop::kNoSuchPreset);
  EXPECT_EQ(captured_ui().alerts.back(), "There is no master preset named \"Nope\".");
  EXPECT_EQ(ingest(request({{kParamConverterPath, "/bin/true"}})), StartStop::kPresetConflict);
  // The converter switched on while none is set: the message names the key that sets it.
  master().put_int("KeepRaw", 1);
  EXPECT_EQ(ingest(request({{kParamWantBackup, "1"}, {kParamBackupFolder, dir / "backup"}})),
            StartStop::kNoConverter);
  EXPECT_EQ(captured_ui().alerts.back().rfind("No DNG converter is set: set ConverterApp", 0), 0u);
  master().put_int("KeepRaw", 0);
  master().put_int("WantGPS", 1);
  EXPECT_EQ(ingest(request()), StartStop::kNoGpsData);
  master().put_int("WantGPS", 0);
  EXPECT_EQ(records(), before);

  // Stops after it: the reason is the record's result.
  r = request();
  r.source.clear();  // the preset's "[user choice]", and the user chooses nothing
  EXPECT_EQ(ingest(r), StartStop::kNoCard);
  EXPECT_EQ(record("result"), "No card chosen");
  EXPECT_THAT(captured_ui().pane, HasSubstr("ERROR: No card chosen.\n"));

  fs::create_directories(dir / "backup");
  EXPECT_EQ(ingest(request({{kParamWantBackup, "1"},
                            {kParamBackupFolder, dir / "backup"},
                            {kParamWantBackupPost, "1"},
                            {kParamBackupFolderPost, dir / "missing"}})),
            StartStop::kNoPostBackup);
  EXPECT_EQ(record("result"), "No post-conversion backup folder");
  master().put_int("WantBackupPost", 0);

  master().put_str("CRDefaults", std::string(300, 'd'));
  EXPECT_EQ(ingest(request()), StartStop::kPrepareFailed);
  EXPECT_EQ(record("result"), "Failed to prepare for ingestion");
  master().put_str("CRDefaults", "[none]");

  // A card folder that will not do stops before the record.
  const int recorded = records();
  EXPECT_EQ(ingest(request({}, dir / "gone")), StartStop::kBadCard);
  fs::create_directories(dir / "empty/DCIM");
  EXPECT_EQ(ingest(request({}, dir / "empty")), StartStop::kBadCard);
  EXPECT_THAT(captured_ui().alerts.back(), HasSubstr("holds no files to ingest"));
  test::write_file(dir / "hidden/DCIM/.hidden/x.jpg", "x");  // an image all the same
  EXPECT_EQ(card_folder_problem(dir / "hidden", false, "", {}), "");
  // A card's DCIM with nothing in it but a clip in the video folder beside it.
  test::write_file(dir / "clips/PRIVATE/M4ROOT/CLIP/C0001.MP4", "x");
  fs::create_directories(dir / "clips/DCIM");
  EXPECT_EQ(card_folder_problem(dir / "clips/DCIM", false, "", {}), "");
  EXPECT_EQ(ingest(request({{kParamPrimaryFolder, card + "/../card/archive"}})),
            StartStop::kBadCard);
  EXPECT_THAT(captured_ui().alerts.back(), HasSubstr("is inside the card folder"));
  EXPECT_EQ(records(), recorded);

  // A run that fails, and one the user stops.
  test::write_file(dir / "blocker", "a file where the archive should go");
  EXPECT_EQ(ingest(request({{kParamPrimaryFolder, dir / "blocker/archive"}})), StartStop::kNone);
  EXPECT_THAT(record("result"), EndsWith(" / Terminated with error"));
  EXPECT_EQ(captured_ui().status, "Error");

  IngestionRun stopped(*session);
  ASSERT_EQ(stopped.prepare(request()).stop, StartStop::kNone);
  // Held until the end: the run cannot get past naming before the stop reaches it.
  std::optional<OrderGate::Ticket> held = stopped.monitor().order_gate().try_enter(-1, 0);
  ASSERT_TRUE(held && stopped.start());
  stopped.stop();
  finish_run(stopped);
  EXPECT_THAT(record("result"), EndsWith("Stopped by user"));
  EXPECT_THAT(captured_ui().alerts.back(), HasSubstr("Ingested images may be invalid!"));
}

TEST_F(StartFlow, ARecordThatCannotBeWrittenNamesTheDatabaseFile) {
  Database& db = *session->database();
  auto pages = db.query("pragma page_count");
  ASSERT_TRUE(pages && db.exec("pragma max_page_count = " + pages->rows[0][0]));
  StartRequest r = request();
  r.notes = std::string(200000, 'n');  // more than the file may grow by
  EXPECT_EQ(ingest(r), StartStop::kRecordFailed);
  const std::string pane = captured_ui().pane, file = "\"" + db.path() + "\"\n";
  EXPECT_THAT(pane, HasSubstr("ERROR: Can't insert ingestion record into database: " + file));
  EXPECT_THAT(pane, Not(HasSubstr("ERROR: \n")));
  EXPECT_EQ(images_below(archive), 0u);
}

TEST_F(StartFlow, ManifestsReachTheDiskBeforeTheVerdictIsShown) {
  static std::string manifests;
  static bool flushed_with_manifest;
  manifests = archive + "/Manifests";
  flushed_with_manifest = false;
  Sysio table = system_sysio();
  table.fsync = [](int fd) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(manifests, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
      if (it->path().extension() == ".xxh128") flushed_with_manifest = true;
    return system_sysio().fsync(fd);
  };
  ScopedSysio scoped(table);
  ASSERT_EQ(ingest(request()), StartStop::kNone);
  EXPECT_TRUE(flushed_with_manifest);
  const std::string& pane = captured_ui().pane;
  const std::size_t manifest = pane.find("Manifest of ");
  const std::size_t verdict = pane.find("Card safe to format");
  ASSERT_NE(verdict, std::string::npos) << pane;
  EXPECT_LT(manifest, verdict) << pane;
}

TEST_F(StartFlow, AMissingBackupFolderIsNeverCreatedTheUserDecides) {
  const std::string backup = dir / "backup", elsewhere = dir / "elsewhere";
  fs::create_directories(elsewhere);
  const StartRequest r = request({{kParamWantBackup, "1"}, {kParamBackupFolder, backup}});
  auto& ui = captured_ui();

  ui.list_answers = {0};  // "Stop Ingestion"
  EXPECT_EQ(ingest(r), StartStop::kBackupStopped);
  EXPECT_EQ(record("result"), "Ingestion stopped");
  ui.list_answers = {2};  // "Choose Folder...", then the browser is cancelled
  EXPECT_EQ(ingest(r), StartStop::kNoBackup);
  EXPECT_EQ(record("result"), "No pre-conversion backup folder");
  EXPECT_FALSE(fs::exists(backup));

  ui.list_answers = {2};  // a folder picked in the browser is remembered as the previous one
  ui.text_answers = {elsewhere};
  EXPECT_EQ(ingest(r), StartStop::kNone);
  EXPECT_EQ(record("result"), "SUCCESS");
  EXPECT_EQ(session->previous_backup_folder, elsewhere);
  EXPECT_EQ(images_below(elsewhere), 6u);
  ui.list_answers = {1};  // "Use Previous Folder"
  fs::remove_all(elsewhere);
  fs::create_directories(elsewhere);
  EXPECT_EQ(ingest(r), StartStop::kNone);
  EXPECT_EQ(images_below(elsewhere), 6u);
  EXPECT_FALSE(fs::exists(backup));
}

TEST_F(StartFlow, NumberRangeFoldersAreRenamedAndTheViewerOpensTheLast) {
  const StartRequest r = request({{kParamFolderFormat, "{@numberrange}"},
                                  {kParamPartitionSize, "4"},
                                  {kParamNumberRangeSource, "2"},
                                  {kParamStartingNumber, "9998"}});
  master().put_str("ViewerApp", "viewer");
  master().put_int("ViewerFolder", 1);
  std::vector<std::string> launched;
  ASSERT_EQ(ingest(r, &launched), StartStop::kNone);
  EXPECT_EQ(images_below(archive + "/9998-0001"), 4u);
  EXPECT_EQ(images_below(archive + "/0002-0003"), 2u);
  EXPECT_EQ(record("number_start") + "-" + record("number_stop"), "9998-10003");
  // The viewer gets the range folder whose name sorts last.
  EXPECT_EQ(launched, std::vector<std::string>{"viewer " + archive + "/9998-0001"});
  EXPECT_THAT(captured_ui().pane, HasSubstr("\nNumber range: 9998 through 10003\n"));
}

// At once, with a monitor each: a second card into another archive.
TEST_F(StartFlow, RunsInOneProcessKeepTheirRecordsApart) {
  const std::string card2 = dir / "card2", archive2 = dir / "archive2";
  ASSERT_EQ(fixtures::write_sample_card(card2, fixtures::jpeg_card(3)).size(), 3u);
  IngestionRun a(*session), b(*session);
  ASSERT_EQ(a.prepare(request()).stop, StartStop::kNone);
  ASSERT_EQ(b.prepare(request({{kParamPrimaryFolder, archive2}}, card2)).stop, StartStop::kNone);
  ASSERT_TRUE(a.start() && b.start());
  while (a.running() || b.running()) {
    a.wait(std::chrono::milliseconds(50));
    a.tick();
    b.tick();
  }
  const CardMonitor &ma = a.monitor(), &mb = b.monitor();
  EXPECT_TRUE(ma.outcome()->success && mb.outcome()->success);
  EXPECT_EQ(record("image_count", a.prepared()->ingestion_key), "6");
  EXPECT_EQ(record("image_count", b.prepared()->ingestion_key), "3");
  EXPECT_THAT(mb.context(0)->report, HasSubstr("------ " + card2 + " ------"));
  EXPECT_THAT(mb.context(0)->report, ::testing::Not(HasSubstr("------ " + card + " ------")));
  EXPECT_EQ(images_below(archive), 6u);
  EXPECT_EQ(images_below(archive2), 3u);
}

// An archive copy changed since the ledger verified it fails its disc's read-back.
TEST_F(StartFlow, DiscsBurnedAfterARunCarryTheLedgersHashes) {
  const std::string discs = dir / "discs";
  fs::create_directories(discs);
  ASSERT_TRUE(pref_put_text("BurnImageFolder", discs));
  master().put_int("BurnPrimary", 1);
  ASSERT_EQ(ingest(request()), StartStop::kNone);
  master().put_int("BurnPrimary", 0);
  ASSERT_TRUE(finished.success && finished.burned) << captured_ui().pane;
  const std::vector<FolderBurn>& burns = finished.outcome.end.burns;
  ASSERT_EQ(burns.size(), 1u);
  std::vector<fs::path> isos{fs::directory_iterator(discs), fs::directory_iterator()};
  ASSERT_EQ(isos.size(), 1u);
  // The images come with the ledger's hashes; their sidecars, which it does not hold, are
  // hashed as the disc is written.
  const std::string image = test::read_file(isos[0]);
  const std::size_t files = image.find("\nFiles: ");
  ASSERT_NE(files, std::string::npos);
  const std::string n = std::to_string(images_below(archive));
  EXPECT_EQ(image.substr(files + 1, image.find('\n', files + 1) - files - 1),
            "Files: " + std::to_string(2 * images_below(archive)) + " (" + n +
                " with hashes from the ingest ledger, " + n + " hashed while writing)");

  // Same size, one bit different: only the ledger's hash tells the copy changed.
  std::string changed;
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.path().extension() == ".JPG" && changed.empty()) changed = e.path().string();
  ASSERT_FALSE(changed.empty());
  std::string bytes = test::read_file(changed);
  bytes[bytes.size() / 2] ^= 0x01;
  test::write_file(changed, bytes);
  fs::remove(isos[0]);
  captured_ui().clear();
  EXPECT_FALSE(burn_after_run(burns, std::stoi(record("ingestion_sk")), {}, session->database()));
  std::string shown = captured_ui().pane;
  for (const std::string& a : captured_ui().alerts) shown += a + "\n";
  EXPECT_THAT(shown, HasSubstr(changed + " no longer has the hash the ingest ledger holds"));
  EXPECT_TRUE(fs::is_empty(discs));
  pref_put_text("BurnImageFolder", "");
}

TEST_F(StartFlow, ASingleSourceGoesFromTheStartToTheEjectOfItsCard) {
  const std::string root = mounted_card("reader", 3);
  master().put_int("AutoEject", 1);
  int looks = 0;
  bool seen_running = false;
  RunHooks hooks;
  hooks.progress = [&](const MonitorView& view) {
    ++looks;
    seen_running = seen_running || view.running;
  };
  IngestionRun run(*session, std::move(hooks));
  ASSERT_EQ(run.prepare(request({}, root + "/DCIM")).stop, StartStop::kNone) << captured_ui().pane;
  ASSERT_TRUE(run.start());
  const RunFinish finish = finish_run(run);

  EXPECT_TRUE(finish.success);
  EXPECT_TRUE(finish.burned);
  EXPECT_GT(looks, 0);
  EXPECT_TRUE(seen_running);
  EXPECT_EQ(images_below(archive), 3u);
  // "AutoEject": the mounted card holding the source, through the session's eject.
  EXPECT_THAT(ejected, ElementsAre(root));
}

TEST_F(StartFlow, CardsModeTakesTheTickedCardsAndAnUnrunMonitorKeepsTheNumber) {
  mounted_card("one", 2);
  const std::string left_out = mounted_card("two", 3);
  master().put_int("AutoEject", 1);
  ASSERT_TRUE(set_starting_number("40"));
  StartRequest r = request();
  r.source.clear();
  r.cards_mode = true;
  {
    // Closed without a run (a window's monitor closed before Start).
    IngestionRun unrun(*session);
    ASSERT_EQ(unrun.prepare(r).stop, StartStop::kNone) << captured_ui().pane;
    EXPECT_FALSE(unrun.finish().success);
    EXPECT_EQ(starting_number(), "40");
  }
  IngestionRun run(*session);
  ASSERT_EQ(run.prepare(r).stop, StartStop::kNone) << captured_ui().pane;
  ASSERT_TRUE(run.start({left_out}));
  EXPECT_TRUE(finish_run(run).success);
  EXPECT_EQ(images_below(archive), 2u);
  EXPECT_TRUE(ejected.empty());  // cards are ejected from the monitor, never automatically
}

// The image chooser greys out what the next run would skip: an image whose archived copy has
// since changed (same size, same place) is copied again, so it is not shown as archived.
TEST_F(StartFlow, TheChooserMarksArchivedExactlyWhatTheNextRunSkips) {
  const std::string folder = mounted_card("chosen", 2) + "/DCIM";
  ASSERT_EQ(ingest(request({}, folder)), StartStop::kNone);
  ASSERT_TRUE(finished.success) << captured_ui().pane;
  const std::vector<ChoiceImage> images = list_choice_images(*session, folder);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_THAT(archived_images(*session, images), ElementsAre(true, true));

  // The second image's copy is rewritten with other bytes of the same size.
  std::string bytes = test::read_file(images[1].path);
  std::string copy;
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.is_regular_file() && test::read_file(e.path()) == bytes) copy = e.path();
  ASSERT_FALSE(copy.empty());
  bytes[bytes.size() / 2] ^= 0x55;
  test::write_file(copy, bytes);
  EXPECT_THAT(archived_images(*session, images), ElementsAre(true, false));

  // And the run agrees: only that image is copied again, beside the changed copy.
  ASSERT_EQ(ingest(request({}, folder)), StartStop::kNone);
  ASSERT_TRUE(finished.success) << captured_ui().pane;
  EXPECT_EQ(images_below(archive), 3u);
}

// A camera named "Test Camera" that holds no images.
struct EmptyCamera : NoCameraSource {
  bool open_device(const std::string& name, std::string& message) override {
    return name == kName || NoCameraSource::open_device(name, message);
  }
  bool images_for_device(const std::string& name, std::vector<std::string>&,
                         std::string& message) override {
    return open_device(name, message);
  }
  static constexpr const char* kName = "Test Camera";
};

TEST_F(StartFlow, ACameraGivenToTheSessionIsCheckedAndListed) {
  ASSERT_NO_FATAL_FAILURE(open_session(std::make_unique<EmptyCamera>()));
  EXPECT_EQ(ingest(request({}, "ptp/Another Camera")), StartStop::kNoCamera);
  EXPECT_THAT(captured_ui().pane, HasSubstr("No camera named Another Camera is connected."));

  captured_ui().clear();
  EXPECT_EQ(ingest(request({}, std::string("ptp/") + EmptyCamera::kName)), StartStop::kNone);
  EXPECT_TRUE(finished.success) << captured_ui().pane;
  EXPECT_THAT(captured_ui().pane, Not(HasSubstr("No camera named")));
}
}  // namespace
}  // namespace cw
