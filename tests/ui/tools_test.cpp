// The tool windows driven as a user drives them, their results checked in the database, the
// files' times, the archive and the disc images written.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimeEdit>
#include <fstream>
#include <map>

#include "foundation/log.h"
#include "metadata/macro_reference.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ui/desktop_fixture.h"
#include "ui/database_window.h"
#include "ui/grid.h"
#include "ui/log_viewer.h"
#include "ui/macro_lab.h"

namespace cw {
namespace {

using test::click_named;
using test::find_named;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// Picks `path` in the file or folder chooser called `name`.
std::function<bool(QWidget*)> pick(const QString& name, const std::string& path) {
  return on(name, [path](QWidget* w) {
    auto* chooser = static_cast<QFileDialog*>(w);
    const fs::path p(path);
    const bool folder = chooser->fileMode() == QFileDialog::Directory;
    chooser->setDirectory(QString::fromStdString(folder ? path : p.parent_path().string()));
    // The name typed, as selectFile() leaves a focused name field alone.
    if (!folder)
      chooser->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(p.filename()));
    return QMetaObject::invokeMethod(chooser, "accept");
  });
}
// Selects every folder the multiple folder selection offers.
std::function<bool(QWidget*)> select_all_folders() {
  return on("Multiple Folder Selection", [](QWidget* w) {
    find_named<QListWidget>(w, "Folders")->selectAll();
    return click_named(w, "Select");
  });
}
// Burns every disc of the burner window, then closes it.
std::function<bool(QWidget*)> burn_and_close() {
  return on("Cardwright Disc Burner", [](QWidget* w) {
    if (find_named<QLabel>(w, "Burn status")->text().contains("Panel can now be closed"))
      return click_named(w, "Close");
    click_named(w, "Burn");  // once the recorders are listed; then it reads Cancel
    return false;
  });
}

void trigger(QWidget* window, const QString& text) {
  for (QAction* a : window->findChildren<QAction*>())
    if (a->text() == text) return a->trigger();
  ADD_FAILURE() << "no command " << text.toStdString();
}

std::string archived(const std::string& archive, const std::string& ending) {
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.path().string().ends_with(ending)) return e.path();
  return "";
}

TEST_F(Desktop, DatabaseWindowSortsEditsExportsPurgesAndAddsRows) {
  open({}, {{"PrimaryFolder", archive}});
  Database& db = *session->database();
  const int project = db.project_add("Wedding", "Client_001", std::nullopt, "");
  std::vector<int> keys;
  for (int images : {300, 40, 120, 75})
    keys.push_back(db.ingestion_insert(project, db.card_key("#001"), 1, images, images, ""));
  ASSERT_TRUE(
      db.exec("update ingestion set ingested_dt = datetime('now', 'localtime', "
              "'-2 years') where ingestion_sk = " +
              std::to_string(keys[3])));
  ui::DatabaseWindow window(*session);
  bool loaded = false;
  QObject::connect(&window, &ui::DatabaseWindow::loaded, [&] { loaded = true; });
  window.show();
  auto reloaded = [&] { return test::wait_for([&] { return std::exchange(loaded, false); }); };
  ASSERT_TRUE(reloaded());

  // Fewest images first, then the notes of that ingestion typed into its cell.
  ui::GridView& grid = window.grid();
  QHeaderView* header = grid.horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(7) + 8, header->height() / 2));
  ASSERT_EQ(grid.model()->index(0, 0).data().toString().toInt(), keys[1]);
  grid.edit(grid.model()->index(0, 9));
  auto* editor = grid.findChild<QLineEdit*>();
  ASSERT_TRUE(editor);
  QTest::keyClicks(editor, "Group photos, \"north\" lawn");
  QTest::keyClick(editor, Qt::Key_Return);
  const std::string notes = "select notes from ingestion where ingestion_sk = ";
  EXPECT_TRUE(test::wait_for([&] {  // the delegate commits on its next turn
    return value(notes + std::to_string(keys[1])) == "Group photos, \"north\" lawn";
  }));

  const std::string csv = dir / "history.csv";
  answers.then(pick("Export chooser", csv));
  answers.then(message("Records exported successfully."));
  ASSERT_TRUE(click_named(&window, "Export..."));
  const std::string exported = test::read_file(csv);
  EXPECT_EQ(std::count(exported.begin(), exported.end(), '\n'), 5);

  answers.then(yes());
  ASSERT_TRUE(click_named(&window, "Purge..."));
  ASSERT_TRUE(reloaded());
  EXPECT_EQ(value("select count(*) from ingestion"), "3");

  window.show_table("IPTCcontact");
  ASSERT_TRUE(reloaded());
  ASSERT_TRUE(click_named(&window, "Add"));
  ASSERT_TRUE(reloaded());
  EXPECT_EQ(value("select creator from IPTCcontact"), "Contact_0001");
  answers.then(yes());
  ASSERT_TRUE(click_named(&window, "Delete"));  // the added row is selected
  ASSERT_TRUE(reloaded());
  EXPECT_EQ(value("select count(*) from IPTCcontact"), "0");
  EXPECT_TRUE(answers.done());
}

TEST_F(Desktop, MacroLabAndExamineShowWhatTheirCommandsPrint) {
  const std::string image = fixtures::write_sample_card(dir / "card", {}).front();
  open({}, {{"PrimaryFolder", archive}});
  ui::MacroLab lab(*session);
  lab.show();
  const std::string spec = "{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4} {@modle}";
  auto* specification = find_named<QPlainTextEdit>(&lab, "Specification");
  QTest::keyClicks(specification, QString::fromStdString(spec));
  auto shown = [&] { return find_named<QPlainTextEdit>(&lab, "Result")->toPlainText() + "\n"; };
  std::string printed;
  ASSERT_EQ(run_cardwright("macro '" + spec + "'", &printed, "/dev/null"), 0);
  EXPECT_EQ(shown().toStdString(), printed);
  EXPECT_THAT(find_named<QLabel>(&lab, "Warning")->text().toStdString(), HasSubstr("{@modle}"));
  ASSERT_TRUE(lab.use_image(QString::fromStdString(image)));
  ASSERT_EQ(run_cardwright("macro --image '" + image + "' '" + spec + "'", &printed, "/dev/null"),
            0);
  EXPECT_THAT(printed, EndsWith(shown().toStdString()));  // after the reader's EXIF listing
  EXPECT_THAT(printed, HasSubstr("IMG_20240517_0001"));
  answers.then(yes("OK to overwrite text?"));
  ASSERT_TRUE(click_named(&lab, "Insert Reference"));
  EXPECT_EQ(specification->toPlainText().toStdString(), macro_reference_text());

  // Examine: the file chosen first, the report built off the window's thread.
  std::string report;
  answers.then(pick("Examine chooser", image));
  answers.then(on("Examine", [&](QWidget* w) {
    report = find_named<QPlainTextEdit>(w, "Report")->toPlainText().toStdString();
    return !report.empty() && click_named(w, "Close");
  }));
  trigger(window.get(), "&Examine...");
  ASSERT_EQ(run_cardwright("examine '" + image + "'", &printed, "/dev/null"), 0);
  EXPECT_THAT(report, HasSubstr("INTERNAL IMAGE FILE STRUCTURE"));
  EXPECT_THAT(printed, EndsWith(report));
  EXPECT_TRUE(answers.done());
}

TEST_F(Desktop, TheLogWindowFollowsTheLogFindsInItAndShowsItCleared) {
  open({}, {{"PrimaryFolder", archive}});
  for (int i = 0; i < 300; ++i) log_printf("Filler line %d", i);
  trigger(window.get(), "&View Log");
  ui::LogViewer* viewer = nullptr;
  ASSERT_TRUE(test::wait_for([&] {
    viewer = window->findChild<ui::LogViewer*>();
    return viewer && viewer->isVisible() && viewer->text().contains("Filler line 299");
  }));
  QScrollBar* bar = find_named<QPlainTextEdit>(viewer, "Log")->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  log_printf("Written while the window is open");
  ASSERT_TRUE(test::wait_for(
      [&] { return viewer->text().endsWith("Written while the window is open"); }));
  EXPECT_EQ(bar->value(), bar->maximum());

  auto* find = find_named<QLineEdit>(viewer, "Find");
  QTest::keyClicks(find, "Filler line 12");
  QTest::keyClick(find, Qt::Key_Return);
  EXPECT_EQ(find_named<QPlainTextEdit>(viewer, "Log")->textCursor().selectedText(),
            "Filler line 12");
  EXPECT_FALSE(viewer->find(QStringLiteral("Words the log does not hold")));
  EXPECT_EQ(find_named<QLabel>(viewer, "Find result")->text(), "Not found.");

  answers.then(yes("Clear log file?"));
  trigger(window.get(), "&Clear Log");
  ASSERT_TRUE(test::wait_for([&] { return !viewer->text().contains("Filler"); }));
  EXPECT_THAT(viewer->text().toStdString(), HasSubstr("Cleared by user"));
}

TEST_F(Desktop, StartOffersTheGpsWindowAndTheRunUsesItsTrackAndClock) {
  const std::string root = card("card", 2);
  // A logger's fixes with times of day only: the window asks for their date.
  const std::string track = dir / "walk.log";
  std::ofstream(track) << "$GPGGA,082000,4800.0000,N,00200.0000,E,1,08,1.0,100.0,M,,,,\r\n"
                          "$GPGGA,082200,4900.0000,N,00300.0000,E,1,08,1.0,200.0,M,,,,\r\n";
  open_card(root, {{"WantGPS", "1"}});
  // The camera was in Paris on summer time: its 10:20:30 is 08:20:30 UTC.
  answers.then(on("GPS Input", [this](QWidget* w) {
    auto* zone = find_named<QComboBox>(w, "CameraZone");
    auto* dst = find_named<QCheckBox>(w, "CameraZoneDST");
    auto stored = [this] { return session->settings().master().get_str("CameraZone"); };
    // Typed zones: an unknown one is not stored; part of one name is that zone.
    auto type = [zone](const char* text) {
      zone->lineEdit()->setText(QString::fromUtf8(text));
      Q_EMIT zone->lineEdit()->editingFinished();
    };
    type("Atlantis");
    EXPECT_EQ(stored(), "???");
    EXPECT_THAT(find_named<QLabel>(w, "Zone note")->text().toStdString(),
                HasSubstr("Unknown time zone 'Atlantis'"));
    type("berlin");
    EXPECT_EQ(stored(), "Europe/Berlin");
    EXPECT_FALSE(dst->isEnabled());  // summer time comes from the zone database
    type("Europe");  // part of many names
    EXPECT_EQ(stored(), "Europe/Berlin");
    zone->setCurrentIndex(zone->findData("Paris +1"));
    EXPECT_TRUE(dst->isEnabled());
    find_named<QCheckBox>(w, "CameraZoneDST")->setChecked(true);
    return click_named(w, "Load GPS Data...");
  }));
  answers.then(pick("Track chooser", track));
  answers.then(on("Date of the Track", [](QWidget* w) {
    find_named<QDateEdit>(w, "Track date")->setDate(QDate(2024, 5, 17));
    static_cast<QDialog*>(w)->accept();
    return true;
  }));
  answers.then(on("GPS Input", [](QWidget* w) {
    return find_named<QLabel>(w, "Summary")->text().startsWith("Loaded 2 points") &&
           click_named(w, "Continue");
  }));
  ASSERT_TRUE(start_and_finish()) << pane().toStdString();
  EXPECT_TRUE(answers.done());
  EXPECT_EQ(session->gps_tracks()->zone.label(0), "UTC+2");
  EXPECT_EQ(session->settings().master().get_str("CameraZone"), "Paris +1");
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  std::string position;
  test::run_command(
      "exiftool -n -s3 -GPSLatitude -GPSLongitude '" + archived(archive, "_0001.JPG") + "'",
      &position);
  EXPECT_EQ(position, "48.25\n2.25\n");
}

TEST_F(Desktop, MultiCameraShootIsAdjustedSyncedAndReingestedInTimeOrder) {
  // Camera B's clock is an hour and 10 seconds behind camera A's.
  std::vector<std::string> a, b;
  for (auto [name, count, first] : {std::tuple("camA", 3, "2024:05:17 10:20:30"),
                                    std::tuple("camB", 2, "2024:05:17 09:20:40")}) {
    fixtures::CardSpec spec;
    spec.count = count, spec.raw_every = 0, spec.seconds_apart = 20;
    spec.first_capture = first, spec.folder = name, spec.prefix = std::string(name, 3, 1) + "_";
    (name[3] == 'A' ? a : b) = fixtures::write_sample_card(dir / "shoot", spec);
  }
  const long b_before = fixtures::mtime_of(b[0]);
  open({}, {{"PrimaryFolder", archive},
            {"WantBackup", "0"},
            {"WantJPEGVerify", "0"},
            {"NameFormat", "{@sequence,-4}_{@datetimeany,10}_{@filename}"}});
  answers.then(press("Multi-Camera Shoot", "Choose..."));
  answers.then(pick("Folder chooser", dir / "shoot/camA"));
  answers.then(select_all_folders());
  answers.then(on("Multi-Camera Shoot", [](QWidget* w) {
    auto& grid = *find_named<ui::GridView>(w, "Folders");
    if (grid.model()->rowCount() != 2) return false;
    grid.selectRow(0);  // camera B: the earliest start
    auto* time = find_named<QTimeEdit>(w, "Time");
    time->setTime(time->time().addSecs(3600));
    return click_named(w, "Adjust");
  }));
  answers.then(yes());
  answers.then(press("Multi-Camera Shoot", "Sync Files"));
  answers.then(yes());
  answers.then(message("Synchronized 1 folder(s) containing 2 total images."));
  answers.then(on("Multi-Camera Shoot", [](QWidget* w) {
    find_named<QCheckBox>(w, "Write corrected dates into EXIF")->setChecked(true);
    return true;
  }));
  answers.then(press("Multi-Camera Shoot", "Re-Ingest"));
  answers.then(press("Multi-Camera Shoot", "Close"));
  trigger(window.get(), "M&ulti-Camera...");
  EXPECT_TRUE(answers.done());

  EXPECT_EQ(fixtures::mtime_of(b[0]), b_before + 3600);
  std::vector<std::string> names;
  std::map<std::string, std::string> copies;
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.path().extension() == ".JPG") {
      names.push_back(e.path().stem());
      copies[e.path().stem().string().substr(12)] = e.path();
    }
  std::sort(names.begin(), names.end());
  // Camera B's names carry its EXIF times corrected by the hour the sync wrote.
  EXPECT_THAT(names, ::testing::ElementsAre("0001_102030_A_0001", "0002_102040_B_0001",
                                            "0003_102050_A_0002", "0004_102100_B_0002",
                                            "0005_102110_A_0003"));
  EXPECT_EQ(newest("result"), "SUCCESS");
  // Asked to, the run wrote camera B's corrected dates into its copies.
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  EXPECT_EQ(test::exiftool("-s3 -DateTimeOriginal", copies.at("B_0001")), "2024:05:17 10:20:40\n");
}

TEST_F(Desktop, DiscsAreBurnedAfterARunAndFromTheToolsMenu) {
  const std::string root = card("card", 3);
  const std::string discs = dir / "discs";
  fs::create_directories(discs);
  pref_put_text("BurnImageFolder", discs);
  open_card(root, {{"BurnPrimary", "1"}});
  answers.then(burn_and_close());
  ASSERT_TRUE(start_and_finish()) << pane().toStdString();
  const std::string after_run = discs + "/" + newest("ingestion_sk") + "A_001.iso";
  EXPECT_THAT(test::read_file(after_run), HasSubstr("IMG_20240517_0003.JPG"));

  answers.then(pick("Folder chooser", archive + "/2024"));
  answers.then(select_all_folders());
  answers.then(burn_and_close());
  trigger(window.get(), "&Burn Discs...");
  EXPECT_TRUE(answers.done());
  EXPECT_THAT(test::read_file(discs + "/Disc_001.iso"), HasSubstr("IMG_20240517_0003.JPG"));
  EXPECT_THAT(pane().toStdString(), HasSubstr("Successful burn -- 1 disc(s) were burned."));
}

}  // namespace
}  // namespace cw
