// The first start of the desktop program and the sizes its windows are given; the main window
// driven as a user drives it, its results checked in the database, the archive and the stored
// presets; its image chooser over a card as a photographer brings it.
#include "ui/main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include "tests/fixtures/jpeg_maker.h"
#include "tests/ui/desktop_fixture.h"
#include "ui/database_window.h"
#include "ui/first_run_assistant.h"
#include "ui/grid.h"
#include "ui/image_chooser.h"
#include "ui/macro_lab.h"
#include "ui/monitor_dialog.h"
#include "ui/preset_editor.h"
#include "ui/window_fit.h"

namespace cw {
namespace {

using test::click_named;
using test::find_named;
using ui::ImageListModel;
using ::testing::HasSubstr;

// Every setting of the presets the set-up touches, as a new session reads them.
std::map<std::string, std::vector<std::string>> stored_setup() {
  CWParam param;
  param.load_presets();
  std::map<std::string, std::vector<std::string>> out;
  for (PresetKind kind : {PresetKind::Master, PresetKind::Photog, PresetKind::Rights})
    for (const EffectiveSetting& s : effective_settings(param, kind))
      out[preset_kind_word(kind) + "." + s.key] = s.values;
  return out;
}

TEST_F(Desktop, TheAssistantOnAFreshHomeSavesWhatInitSaves) {
  const std::string root = card("card", 2);
  const std::string backup = dir / "backup";
  fs::create_directories(backup);
  const std::string format = "{@datetimeany,1,8}_{@filename}";
  QString example;
  std::string first_image;
  answers.then(on("First-run assistant", [&](QWidget* w) {
    auto* assistant = qobject_cast<ui::FirstRunAssistant*>(w);
    if (!assistant || !assistant->example_image()) return false;  // the card is being read
    find_named<QLineEdit>(w, "Archive folder")->setText(QString::fromStdString(archive));
    find_named<QLineEdit>(w, "Backup folder")->setText(QString::fromStdString(backup));
    if (!click_named(w, "Next")) return false;
    find_named<QComboBox>(w, "Name format")->setCurrentText(QString::fromStdString(format));
    example = find_named<QLabel>(w, "Name example")->text();
    first_image = fs::path(*assistant->example_image()).filename();
    if (!click_named(w, "Next")) return false;
    find_named<QLineEdit>(w, "Creator")->setText(QStringLiteral("Ann Lee"));
    find_named<QLineEdit>(w, "Copyright")->setText(QStringLiteral("\u00a9 2026 Ann Lee"));
    return click_named(w, "Finish");
  }));
  open({root}, {});  // no archive: the assistant opens by itself
  ASSERT_TRUE(test::wait_for([&] { return answers.done(); }));
  // The live example named the card's first image, taken on 17 May 2024.
  EXPECT_EQ(example.toStdString(), "20240517_" + first_image);
  EXPECT_EQ(find_named<QLabel>(window.get(), "Primary folder")->text().toStdString(), archive);
  const auto from_window = stored_setup();

  window.reset();
  session.reset();
  for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"})
    fs::remove_all(fs::path(std::getenv(var)) / "CardwrightPro");
  std::string out;
  ASSERT_EQ(run_cardwright("init --archive '" + archive + "' --backup '" + backup +
                               "' --name-format '" + format +
                               "' --creator 'Ann Lee' --copyright '\u00a9 2026 Ann Lee'",
                           &out),
            0)
      << out;
  EXPECT_EQ(stored_setup(), from_window);
}

TEST_F(Desktop, DialogsComeBackWithTheSizeAndDividersTheyWereLeftWith) {
  open({}, {{"PrimaryFolder", archive}});
  auto divider = [](QWidget& w) { return w.findChild<QSplitter*>()->sizes().front(); };
  ui::MacroLab fresh(*session, window.get());
  fresh.show();
  const QSize first_size = fresh.size();
  const int first_divider = divider(fresh);
  fresh.hide();

  ui::WindowMemory memory;
  qApp->installEventFilter(&memory);
  QSize left_size;
  int left_divider = 0;
  {
    ui::MacroLab lab(*session, window.get());
    lab.show();
    lab.resize(first_size - QSize(100, 80));
    lab.findChild<QSplitter*>()->setSizes({60, 400});
    left_size = lab.size();
    left_divider = divider(lab);
    lab.hide();
  }
  ASSERT_NE(left_size, first_size);
  ASSERT_NE(left_divider, first_divider);
  ui::MacroLab again(*session, window.get());
  again.show();
  EXPECT_EQ(again.size(), left_size);
  EXPECT_EQ(divider(again), left_divider);
}

TEST(WindowFit, AWindowLargerThanItsScreenShrinksToShowItsTitleBar) {
  QDialog dialog;
  auto* layout = new QVBoxLayout(&dialog);
  auto* contents = new QWidget(&dialog);
  contents->setMinimumSize(300, 200);
  layout->addWidget(contents);
  const QRect free = dialog.screen()->availableGeometry();
  dialog.resize(free.size() + QSize(400, 400));
  ui::fit_to_screen(dialog);
  EXPECT_LE(dialog.width(), free.width());
  EXPECT_LT(dialog.height(), free.height());
  EXPECT_GT(dialog.height(), free.height() / 2);
  dialog.resize(400, 300);
  ui::fit_to_screen(dialog);
  EXPECT_EQ(dialog.size(), QSize(400, 300));
  contents->setMinimumWidth(free.width() + 50);
  dialog.resize(free.size() + QSize(400, 400));
  ui::fit_to_screen(dialog);
  EXPECT_GE(dialog.width(), free.width() + 50);
}

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

  // "[user choice]" with one card in the reader: Start takes it without asking (any other
  // dialog fails the test); the configured backup folder is missing, so the user picks another.
  answers.then(press("Choose Backup Folder", "Choose Folder..."));
  answers.then(on("Choose backup folder", [&](QWidget* w) {
    auto* browser = qobject_cast<QFileDialog*>(w);
    if (!browser) return false;
    browser->setDirectory(QString::fromStdString(backup));
    return QMetaObject::invokeMethod(browser, "accept");
  }));
  ASSERT_TRUE(start_and_finish()) << pane().toStdString();

  EXPECT_TRUE(answers.done());
  EXPECT_EQ(images_below(archive), 4u);
  EXPECT_EQ(images_below(backup), 4u);
  EXPECT_THAT(newest("params"), HasSubstr("Source: " + root + "/DCIM\n"));
}

TEST_F(Desktop, VerdictBannerSaysWhetherTheCardIsSafeToFormat) {
  const std::string root = card("card", 3);
  open_card(root, {{"NameFormat", "{@filename}"}, {"FolderFormat", ""}, {"WantJPEGVerify", "1"}});
  auto* banner = find_named<QWidget>(window.get(), "Verdict");
  ASSERT_NE(banner, nullptr);
  EXPECT_FALSE(banner->isVisible());
  auto text = [&](const char* part) {
    return find_named<QLabel>(banner, part)->text().remove(QChar(0x200b)).toStdString();
  };
  // The colour the banner paints, beside its text.
  auto colour = [&] {
    const QImage image = banner->grab().toImage();
    return image.pixelColor(4, image.height() / 2);
  };
  // Start, as the button does; it returns once the run has ended.
  auto run = [&] { window->start_ingestion(false); };

  run();
  EXPECT_TRUE(banner->isVisible());
  EXPECT_EQ(text("Verdict headline"), "Card safe to format");
  EXPECT_EQ(text("Verdict detail"), "all 3 images have verified copies in 1 tree");
  EXPECT_EQ(colour(), QColor("#2e7d32"));

  test::write_file(root + "/DCIM/100CWTST/VOICE.MP3", "spoken note");
  run();
  EXPECT_EQ(text("Verdict headline"), "Card not yet safe to format");
  EXPECT_EQ(text("Verdict detail"),
            "1 file left on the card by the extension filter (100CWTST/VOICE.MP3)");
  EXPECT_EQ(colour(), QColor("#f4b400"));

  test::write_file(root + "/DCIM/100CWTST/IMG_0099.JPG", "\xff\xd8 no picture");
  const std::string bad = archive + "/IMG_0099.JPG";
  answers.then(on("Message", [&](QWidget* w) {
    const std::string message = static_cast<QMessageBox*>(w)->text().toStdString();
    EXPECT_THAT(message, HasSubstr("Ingestion Error!"));
    EXPECT_THAT(message, HasSubstr("Corrupt JPEG: \"" + bad + "\""));
    EXPECT_THAT(message, ::testing::Not(HasSubstr("Win or Mac")));
    static_cast<QDialog*>(w)->accept();
    return true;
  }));
  run();
  EXPECT_TRUE(answers.done());
  EXPECT_EQ(text("Verdict headline"), "Ingestion error: do not format the card");
  EXPECT_EQ(text("Verdict detail"), "Corrupt JPEG: \"" + bad + "\"");
  EXPECT_EQ(colour(), QColor("#c62828"));
}

// Records the summary and body of each notification sent to the tests' session bus.
class FakeNotifications : public QDBusVirtualObject {
 public:
  static constexpr const char* kService = "org.freedesktop.Notifications";

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.interface() != QLatin1String(kService) ||
        message.member() != QLatin1String("Notify"))
      return false;
    const QList<QVariant> args = message.arguments();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (args.size() == 8) received_.push_back({args[3].toString(), args[4].toString()});
    }
    connection.send(message.createReply(QVariant::fromValue(1u)));
    return true;
  }
  std::vector<std::pair<QString, QString>> received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  std::mutex mutex_;  // messages may arrive on the bus's own thread
  std::vector<std::pair<QString, QString>> received_;
};

TEST_F(Desktop, AFinishedRunIsAnnouncedByTheNotificationService) {
  if (test::session_bus_address().empty()) GTEST_SKIP() << "needs dbus-daemon";
  FakeNotifications service;
  // Its connection ends before the service object does, however the test ends.
  struct Connection {
    QString name = QStringLiteral("fake notification service");
    ~Connection() { QDBusConnection::disconnectFromBus(name); }
  } connection;
  const QString& name = connection.name;
  {
    QDBusConnection bus =
        QDBusConnection::connectToBus(QString::fromStdString(test::session_bus_address()), name);
    ASSERT_TRUE(bus.isConnected());
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"),
                                          &service));
    ASSERT_TRUE(bus.registerService(QLatin1String(FakeNotifications::kService)));
  }
  open({card("card", 2)}, {{"PrimaryFolder", archive}, {"WantBackup", "0"}});
  const bool finished = start_and_finish();
  ASSERT_TRUE(finished) << pane().toStdString();
  ASSERT_TRUE(test::wait_for([&] { return !service.received().empty(); }, 10000));
  const auto received = service.received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].first.toStdString(), "Ingestion finished");
  EXPECT_EQ(received[0].second.toStdString(), "Successful ingestion");  // the status it ended with
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
  std::optional<OrderGate::Ticket> held;
  answers.then(press("Ingestion Monitor", "Start"));
  answers.then(on("Ingestion Monitor", [&](QWidget* w) {
    if (!find_named<QLabel>(w, "Monitor status")->text().startsWith("Ingestions completed"))
      return false;
    EXPECT_EQ(colour(w, 1), green);
    EXPECT_EQ(colour(w, 2), green);
    // A second run of the same cards, stopped at once: the test holds the order gate until
    // the run has ended, so no slot gets past naming before the stop reaches it.
    auto* dialog = qobject_cast<cw::ui::MonitorDialog*>(w);
    held = dialog ? dialog->monitor().order_gate().try_enter(-1, 0) : std::nullopt;
    return held && click_named(w, "Start") && click_named(w, "Stop");
  }));
  answers.then(on("Message", [&](QWidget* w) {
    held.reset();
    return click_named(w, "OK") || (static_cast<QDialog*>(w)->accept(), true);
  }));
  answers.then(on("Ingestion Monitor", [](QWidget* w) {
    return find_named<QLabel>(w, "Monitor status")->text() == "Stopped by user" &&
           click_named(w, "Close");
  }));
  QTest::mouseClick(find_named<QPushButton>(window.get(), "Cards..."), Qt::LeftButton);
  ASSERT_TRUE(test::wait_for([&] { return answers.done(); }));

  EXPECT_EQ(images_below(archive), 33u);
  EXPECT_THAT(newest("result"), HasSubstr("SUCCESS"));  // both runs in the monitor's record
}

TEST_F(Desktop, TheChoosersListIsWhatTheIngestionTakes) {
  const std::string root = card("card", 6);
  open_card(root);
  answers.then(on("Image chooser", [](QWidget* w) {
    auto* chooser = static_cast<ui::ImageChooser*>(w);
    auto& model = chooser->model();
    if (model.rowCount() != 6 || !chooser->marks_known()) return false;
    click_named(w, "Uncheck All");  // new images start ticked
    model.setData(model.index(1), Qt::Checked, Qt::CheckStateRole);
    model.setData(model.index(4), Qt::Checked, Qt::CheckStateRole);
    return click_named(w, "Ingest Chosen");
  }));
  ASSERT_TRUE(start_and_finish([&] {
    QTest::mouseClick(find_named<QPushButton>(window.get(), "Thumbs..."), Qt::LeftButton);
  })) << pane().toStdString();

  std::vector<std::string> names = test::paths_below(archive);
  std::erase_if(names, [](const std::string& p) { return !p.ends_with(".JPG"); });
  EXPECT_THAT(names, ::testing::ElementsAre(::testing::EndsWith("_0002.JPG"),
                                            ::testing::EndsWith("_0005.JPG")));
}

// True when the picture has colour: the placeholder of a file without a preview is grey.
bool colourful(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 60)
        return true;
    }
  return false;
}

TEST_F(Desktop, ChooserShowsEveryFileWithItsPreviewTimeAndArchiveMark) {
  if (!test::have_program("heif-enc") || !test::have_program("ffmpeg"))
    GTEST_SKIP() << "heif-enc and ffmpeg make the HEIC and the movie";
  const std::string root = card("card", 1);
  const std::string folder = root + "/DCIM/100CWTST";
  open_card(root);
  ASSERT_TRUE(start_and_finish()) << pane().toStdString();  // car_0001.JPG is archived now

  fixtures::JpegSpec preview;
  preview.width = 160;
  preview.height = 120;
  fixtures::RawLayout raw;
  raw.preview_jpeg = fixtures::make_jpeg(preview);
  fixtures::CameraInfo camera;
  camera.date_time_original = "2024:05:18 07:08:09";
  ASSERT_TRUE(
      fixtures::write_bytes(folder + "/car_0002.CR2", fixtures::build_raw_tiff(camera, raw)));
  QImage blue(64, 48, QImage::Format_RGB32);
  blue.fill(QColor(20, 40, 230));
  ASSERT_TRUE(blue.save(QString::fromStdString(dir / "blue.png")));
  ASSERT_EQ(
      test::run_command("heif-enc -q 80 -o " + folder + "/car_0003.HEIC " + (dir / "blue.png")),
      0);
  ASSERT_EQ(test::run_command("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -t 2 "
                              "-pix_fmt yuv420p " + folder + "/car_0004.MP4"),
            0);

  {
    ui::ImageChooser chooser(root + "/DCIM", false, "", window.get(), session.get());
    chooser.resize(980, 700);
    chooser.show();
    ASSERT_TRUE(test::wait_for([&] { return chooser.marks_known() && chooser.screen_complete(); }));
    ImageListModel& model = chooser.model();
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(test::find_named<QLabel>(&chooser, "Chosen count")->text().toStdString(),
              "3 of 4 images chosen  (1 already in the archive)");
    auto tile = [&](int row) {
      return model.data(model.index(row), Qt::DecorationRole).value<QPixmap>();
    };
    auto ticked = [&](int row) {
      return model.data(model.index(row), Qt::CheckStateRole).toInt() == Qt::Checked;
    };
    EXPECT_TRUE(model.archived(0));  // the count says the other three are new and ticked
    EXPECT_FALSE(ticked(0));
    EXPECT_EQ(model.captured(0).toStdString(), "2024-05-17 10:20:30");
    EXPECT_EQ(model.captured(1).toStdString(), "2024-05-18 07:08:09");
    EXPECT_TRUE(colourful(tile(1)));  // the raw's own preview, not a grey box
    const QColor heic = tile(2).toImage().pixelColor(tile(2).rect().center());
    EXPECT_GT(heic.blue(), 180);
    EXPECT_LT(heic.red(), 80);
    EXPECT_EQ(model.data(model.index(3), ImageListModel::kVideoRole).toString().toStdString(),
              "0:02");
    EXPECT_FALSE(model.data(model.index(1), ImageListModel::kVideoRole).isValid());

    auto* view = test::find_named<QListView>(&chooser, "Images");
    view->setCurrentIndex(view->model()->index(1, 0));
    QTest::keyClick(view, Qt::Key_Space);
    QWidget* large = nullptr;
    ASSERT_TRUE(test::wait_for([&] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->accessibleName() == "Large view") large = w;
      auto* picture = large ? test::find_named<QLabel>(large, "Picture") : nullptr;
      return picture && !picture->pixmap().isNull();
    }));
    large->close();
    QTest::keyClick(view, Qt::Key_T);
    EXPECT_FALSE(ticked(1));
  }

  const QString status = test::find_named<QLabel>(window.get(), "Status")->text();
  answers.then(on("Image chooser", [](QWidget* w) {
    auto* chooser = static_cast<ui::ImageChooser*>(w);
    if (!chooser->marks_known() || chooser->model().chosen_count() == 0) return false;
    QTest::keyClick(w, Qt::Key_Escape);
    return true;
  }));
  QTest::mouseClick(test::find_named<QPushButton>(window.get(), "Thumbs..."), Qt::LeftButton);
  ASSERT_TRUE(test::wait_for([&] { return answers.done() && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(test::find_named<QLabel>(window.get(), "Status")->text(), status);
  EXPECT_NE(status.toStdString(), "Press Start to ingest chosen images");
}

TEST_F(Desktop, PresetAndKeywordEditsPersist) {
  open({}, {{"PrimaryFolder", archive}});
  ui::PresetEditor editor(session->settings(), session->ui(), window.get());
  editor.show();
  editor.show_tab("File Handling");
  auto* prefix = find_named<QLineEdit>(&editor, "FilenamePrefix");
  prefix->setText("WED");
  Q_EMIT prefix->editingFinished();
  answers.then(type_answer("Wedding"));
  ASSERT_TRUE(click_named(&editor, "File Handling Save As..."));
  answers.then(type_answer("Studio"));
  ASSERT_TRUE(click_named(&editor, "Destination New..."));

  editor.show_tab("Keywords");
  auto* tree = find_named<QTreeWidget>(&editor, "Vocabulary");
  tree->setCurrentItem(tree->topLevelItem(1));  // the Keywords heading
  ASSERT_TRUE(click_named(&editor, "Add keyword"));

  std::string shown;
  ASSERT_EQ(run_cardwright("preset show 'File Handling' Wedding", &shown), 0);
  EXPECT_THAT(shown, HasSubstr("FilenamePrefix\tWED\n"));
  ASSERT_EQ(run_cardwright("preset show Destination Studio", &shown), 0);
  ASSERT_EQ(run_cardwright("vocab show", &shown), 0);
  EXPECT_THAT(shown, HasSubstr("NewItem"));
}

TEST_F(Desktop, AClientTypedIsAddedOnStartRenamedInTheDatabaseAndOthersChangesShow) {
  const std::string root = card("card", 2);
  open_card(root);
  auto* client = find_named<QComboBox>(window.get(), "Client");
  ASSERT_TRUE(client->isEditable());
  client->lineEdit()->selectAll();
  QTest::keyClicks(client->lineEdit(), "Nguyen");
  answers.then(yes("Add client \"Nguyen\"?"));
  ASSERT_TRUE(start_and_finish()) << pane().toStdString();
  EXPECT_GT(session->database()->client_key("Nguyen"), 0);
  EXPECT_EQ(client->currentIndex(), client->findText("Nguyen"));

  // A name already taken is refused and the cell shows the old name again.
  ui::DatabaseWindow records(*session);
  std::optional<bool> stored;
  QObject::connect(&records, &ui::DatabaseWindow::edited, [&](bool ok) { stored = ok; });
  records.show();
  records.show_table("Clients");
  ASSERT_TRUE(test::wait_for([&] { return records.table() && records.table()->entry &&
                                          records.table()->entry->title == std::string("Clients"); }));
  ui::GridView& grid = records.grid();
  auto name_cell = [&](const std::string& name) {
    return grid.model()->index(grid.grid().view_row(static_cast<int>(
                                   find_row(*records.table(), name))), 0);
  };
  auto edit_name = [&](const std::string& from, const char* to) {
    stored.reset();
    grid.edit(name_cell(from));
    QLineEdit* editor = nullptr;
    for (QLineEdit* e : grid.findChildren<QLineEdit*>())
      if (e->isVisible()) editor = e;
    if (!editor) return false;
    editor->selectAll();
    QTest::keyClicks(editor, to);
    QTest::keyClick(editor, Qt::Key_Return);
    return test::wait_for([&] { return stored.has_value(); });
  };
  ASSERT_TRUE(edit_name("Nguyen", "Nguyen-Tran"));
  EXPECT_TRUE(*stored);
  EXPECT_GT(session->database()->client_key("Nguyen-Tran"), 0);
  answers.then(message("Client name already exists."));
  ASSERT_TRUE(edit_name("Nguyen-Tran", "Client_001"));
  EXPECT_FALSE(*stored);
  EXPECT_TRUE(test::wait_for([&] { return answers.done(); }));
  EXPECT_EQ(name_cell("Nguyen-Tran").data().toString(), "Nguyen-Tran");

  std::string out;
  ASSERT_EQ(run_cardwright("db clients add Okafor", &out), 0) << out;
  EXPECT_TRUE(test::wait_for([&] { return client->findText("Okafor") >= 0; }, 10000));
  EXPECT_TRUE(test::wait_for([&] { return find_row(*records.table(), "Okafor") >= 0; }, 10000));
  EXPECT_EQ(client->currentText(), "Nguyen-Tran");  // the choice followed the rename

  // A listed name typed in another case, with spaces around it, is that record: nothing asked.
  ASSERT_TRUE(put_preset_value(session->settings(), PresetKind::Master, "CardFolder",
                               card("second", 1) + "/DCIM"));
  records.close();
  window->activateWindow();
  ASSERT_TRUE(test::wait_for([&] { return window->isActiveWindow(); }));
  client->lineEdit()->selectAll();
  QTest::keyClicks(client->lineEdit(), " okafor ");
  ASSERT_TRUE(start_and_finish()) << pane().toStdString();
  EXPECT_EQ(newest("(select client.name from project join client on client_sk = client_id "
                   "where project_sk = project_id)"),
            "Okafor");
  EXPECT_EQ(session->database()->client_key("okafor"), -1);
}

}  // namespace
}  // namespace cw
