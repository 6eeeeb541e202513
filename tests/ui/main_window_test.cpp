// The desktop program driven as a user drives it: Start through every question of the Start
// flow, the monitor on two cards with Stop, the image chooser's list taken by the ingestion, and
// preset and keyword edits that the command-line program reads back. Results are checked in the
// database, the archive and the stored presets.
#include "ui/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "control/app_session.h"
#include "database/database.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "settings/preferences.h"
#include "settings/preset_edit.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_card.h"
#include "tests/ui/gui_test_env.h"
#include "ui/image_chooser.h"
#include "ui/monitor_dialog.h"
#include "ui/preset_editor.h"
#include "ui/qt_user_interface.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::click_named;
using test::DialogAnswerer;
using test::find_named;
using test::TempDir;
using ::testing::HasSubstr;

std::size_t images_below(const std::string& dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       it != fs::recursive_directory_iterator(); ++it)
    if (it->is_regular_file() && it->path().extension() != ".xmp" &&
        it->path().extension() != ".xxh128")
      ++n;
  return n;
}

// Runs the command-line program with `args`; its exit status, its output in `out`.
int cardwright(const std::string& args, std::string& out) {
  std::string command = test::built_program("app/cardwright");
  command += ' ';
  command += args;
  return test::run_command(command, &out);
}

// A modal dialog with this accessible name (or window title), answered by `act`.
std::function<bool(QWidget*)> on(const QString& name, std::function<bool(QWidget*)> act) {
  return [name, act](QWidget* modal) {
    return (modal->accessibleName() == name || modal->windowTitle() == name) && act(modal);
  };
}
std::function<bool(QWidget*)> press(const QString& dialog, const QString& button) {
  return on(dialog, [button](QWidget* w) { return click_named(w, button); });
}

struct Desktop : ::testing::Test {
  TempDir dir;
  std::string archive = dir / "archive";
  ui::QtUserInterface qt_ui;
  std::unique_ptr<AppSession> session;
  std::unique_ptr<ui::MainWindow> window;
  DialogAnswerer answers;

  void SetUp() override {
    // Every test starts as a first run: no presets, database or preferences of earlier tests.
    for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"})
      fs::remove_all(fs::path(std::getenv(var)) / "CardwrightPro");
    pref_put_int("IncompatibilityWarning", 7);
  }
  void TearDown() override {
    EXPECT_TRUE(answers.unexpected.isEmpty()) << answers.unexpected.join("\n").toStdString();
    window.reset();
    session.reset();
  }

  std::string card(const std::string& name, int count,
                   const std::string& first_capture = "2024:05:17 10:20:30") {
    fixtures::CardSpec spec;
    spec.first_capture = first_capture;
    spec.count = count;
    spec.raw_every = 0;
    spec.jpeg_width = spec.jpeg_height = 16;
    spec.prefix = name.substr(0, 3) + "_";
    EXPECT_EQ(fixtures::write_sample_card(dir / name, spec).size(),
              static_cast<std::size_t>(count));
    return dir / name;
  }
  // Starts the program on these card roots with `settings` in the master preset.
  void open(const std::vector<std::string>& roots,
            const std::vector<std::pair<const char*, std::string>>& settings) {
    session = std::make_unique<AppSession>(qt_ui, kSessionDesktop);
    ASSERT_TRUE(session->ok());
    for (const auto& [key, value] : settings)
      ASSERT_TRUE(put_preset_value(session->settings(), PresetKind::Master, key, value));
    auto drives = std::make_unique<FakeDriveSource>();
    for (const std::string& root : roots) drives->add_card(root, fs::path(root).filename());
    ui::MainWindowOptions options;
    options.drives = std::move(drives);
    options.update_check = false;
    options.launch = [](const std::string&, const std::vector<std::string>&) { return true; };
    window = std::make_unique<ui::MainWindow>(*session, qt_ui, std::move(options));
    window->show();
    ASSERT_TRUE(test::wait_for([&] { return window->drives_known(); }));
  }
  std::string newest(const std::string& column) {
    auto r = session->database()->query("select ifnull(" + column +
                                        ", '') from ingestion order by ingestion_sk desc limit 1");
    return r && !r->rows.empty() ? r->rows[0][0] : "";
  }
  QString pane() { return find_named<QPlainTextEdit>(window.get(), "Report")->toPlainText(); }
};

TEST_F(Desktop, StartAnswersEveryQuestionOfTheStartFlow) {
  const std::string root = card("card", 4);
  const std::string backup = dir / "backup";
  fs::create_directories(backup);
  open({root}, {{"PrimaryFolder", archive},
                {"WantBackup", "1"},
                {"BackupFolder", dir / "gone"},
                {"WantJPEGVerify", "0"}});
  EXPECT_THAT(find_named<QLabel>(window.get(), "Card")->text().toStdString(),
              HasSubstr("Image card mounted: " + root));

  // "[user choice]": the card choice offers the mounted card first; the configured backup
  // folder is missing, so the user picks another.
  answers.then(on("Ingest from ...", [](QWidget* w) {
    auto* list = find_named<QListWidget>(w, "Choices");
    return list && list->item(0)->text().startsWith("Card: ") && click_named(w, "OK");
  }));
  answers.then(press("Choose Backup Folder", "Choose Folder..."));
  answers.then(on("Choose backup folder", [&](QWidget* w) {
    auto* browser = qobject_cast<QFileDialog*>(w);
    if (!browser) return false;
    browser->setDirectory(QString::fromStdString(backup));
    return QMetaObject::invokeMethod(browser, "accept");
  }));
  bool finished = false;
  QObject::connect(window.get(), &ui::MainWindow::ingestion_finished,
                   [&](bool ok) { finished = ok; });
  QTest::keyClick(window.get(), Qt::Key_Return);
  ASSERT_TRUE(test::wait_for([&] { return finished; })) << pane().toStdString();

  EXPECT_TRUE(answers.done());
  EXPECT_EQ(images_below(archive), 4u);
  EXPECT_EQ(images_below(backup), 4u);
  EXPECT_EQ(newest("result"), "SUCCESS");
  EXPECT_THAT(newest("params"), HasSubstr("Source: " + root + "/DCIM\n"));
  EXPECT_THAT(pane().toStdString(), HasSubstr("SUCCESSFUL INGESTION"));
  EXPECT_EQ(starting_number(), "5");
}

TEST_F(Desktop, MonitorRunsTwoCardsInTheirColoursAndStops) {
  open({card("one", 3), card("two", 30, "2024:05:18 09:00:00")},
       {{"PrimaryFolder", archive}, {"WantBackup", "0"}, {"WantJPEGVerify", "0"}});
  const QColor green(0, 210, 0);
  auto colour = [](QWidget* w, int slot) {
    return find_named<QLabel>(w, QString("Slot %1 status").arg(slot))
        ->palette()
        .color(QPalette::WindowText);
  };
  answers.then(press("Ingestion Monitor", "Start"));
  answers.then(on("Ingestion Monitor", [&](QWidget* w) {
    if (!find_named<QLabel>(w, "Monitor status")->text().startsWith("Ingestions completed"))
      return false;
    EXPECT_EQ(colour(w, 1), green);
    EXPECT_EQ(colour(w, 2), green);
    // A second run of the same cards, stopped at once.
    return click_named(w, "Start") && click_named(w, "Stop");
  }));
  answers.then(on("Message", [](QWidget* w) {
    EXPECT_THAT(static_cast<QMessageBox*>(w)->text().toStdString(),
                HasSubstr("Ingestion was stopped"));
    return click_named(w, "OK") || (static_cast<QDialog*>(w)->accept(), true);
  }));
  answers.then(on("Ingestion Monitor", [](QWidget* w) {
    return find_named<QLabel>(w, "Monitor status")->text() == "Stopped by user" &&
           click_named(w, "Close");
  }));
  QTest::mouseClick(find_named<QPushButton>(window.get(), "Cards..."), Qt::LeftButton);
  ASSERT_TRUE(test::wait_for([&] { return answers.done(); }));

  EXPECT_EQ(images_below(archive), 33u);
  EXPECT_THAT(newest("result"), HasSubstr("SUCCESS"));
  EXPECT_THAT(newest("result"), ::testing::EndsWith("Stopped by user"));
}

TEST_F(Desktop, TheChoosersListIsWhatTheIngestionTakes) {
  const std::string root = card("card", 6);
  open({root}, {{"PrimaryFolder", archive},
                {"WantBackup", "0"},
                {"CardFolder", root + "/DCIM"},
                {"WantJPEGVerify", "0"}});
  answers.then(on("Image chooser", [](QWidget* w) {
    auto& model = static_cast<ui::ImageChooser*>(w)->model();
    if (model.rowCount() != 6) return false;
    model.setData(model.index(1), Qt::Checked, Qt::CheckStateRole);
    model.setData(model.index(4), Qt::Checked, Qt::CheckStateRole);
    return click_named(w, "Ingest Chosen");
  }));
  bool finished = false;
  QObject::connect(window.get(), &ui::MainWindow::ingestion_finished,
                   [&](bool ok) { finished = ok; });
  QTest::mouseClick(find_named<QPushButton>(window.get(), "Thumbs..."), Qt::LeftButton);
  ASSERT_TRUE(test::wait_for([&] { return finished; })) << pane().toStdString();

  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(archive))
    if (e.is_regular_file() && e.path().extension() != ".xmp" && e.path().extension() != ".xxh128")
      names.push_back(e.path().stem());
  std::sort(names.begin(), names.end());
  EXPECT_THAT(names,
              ::testing::ElementsAre(::testing::EndsWith("_0002"), ::testing::EndsWith("_0005")));
  EXPECT_THAT(newest("params"), HasSubstr("ImgList: [image list]"));
}

TEST_F(Desktop, PresetAndKeywordEditsPersist) {
  open({}, {{"PrimaryFolder", archive}});
  ui::PresetEditor editor(session->settings(), window.get());
  editor.show();
  editor.show_tab("File Handling");
  auto* prefix = find_named<QLineEdit>(&editor, "FilenamePrefix");
  prefix->setText("WED");
  Q_EMIT prefix->editingFinished();
  answers.then(on("Text question", [](QWidget* w) {
    static_cast<QInputDialog*>(w)->setTextValue("Wedding");
    static_cast<QDialog*>(w)->accept();
    return true;
  }));
  ASSERT_TRUE(click_named(&editor, "File Handling Save As..."));
  // A new destination preset starts from the defaults, not from the current folders.
  answers.then(on("Text question", [](QWidget* w) {
    static_cast<QInputDialog*>(w)->setTextValue("Studio");
    static_cast<QDialog*>(w)->accept();
    return true;
  }));
  ASSERT_TRUE(click_named(&editor, "Destination New..."));

  editor.show_tab("Keywords");
  auto* tree = find_named<QTreeWidget>(&editor, "Vocabulary");
  tree->setCurrentItem(tree->topLevelItem(1));  // the Keywords heading
  ASSERT_TRUE(click_named(&editor, "Add keyword"));

  std::string shown;
  ASSERT_EQ(cardwright("preset show 'File Handling' Wedding", shown), 0);
  EXPECT_THAT(shown, HasSubstr("FilenamePrefix\tWED\n"));
  ASSERT_EQ(cardwright("preset show Destination Studio", shown), 0);
  EXPECT_THAT(shown, HasSubstr("PrimaryFolder\t\t(default)\n"));  // New... starts from defaults
  ASSERT_EQ(cardwright("vocab show", shown), 0);
  EXPECT_THAT(shown, HasSubstr("NewItem"));
}

}  // namespace
}  // namespace cw
