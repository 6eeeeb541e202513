// The desktop program's test fixture: a first-run session in the test's private HOME, the
// main window over fake drives, the dialog answerer, sample cards, and helpers that answer a
// modal dialog by its name, shared by the GUI tests.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QInputDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QString>
#include <QTest>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/app_session.h"
#include "database/database.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "settings/preferences.h"
#include "settings/preset_edit.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"
#include "tests/ui/gui_test_env.h"
#include "ui/main_window.h"
#include "ui/qt_user_interface.h"

namespace cw::test {

namespace fs = std::filesystem;

// A modal dialog with this accessible name (or window title), answered by `act`.
inline std::function<bool(QWidget*)> on(const QString& name, std::function<bool(QWidget*)> act) {
  return [name, act](QWidget* modal) {
    return (modal->accessibleName() == name || modal->windowTitle() == name) && act(modal);
  };
}
inline std::function<bool(QWidget*)> press(const QString& dialog, const QString& button) {
  return on(dialog, [button](QWidget* w) { return click_named(w, button); });
}
// Answers a Yes/No question (this one, when given) with Yes.
inline std::function<bool(QWidget*)> yes(const std::string& question = "") {
  return on("Question", [question](QWidget* w) {
    if (!question.empty()) {
      EXPECT_EQ(static_cast<QMessageBox*>(w)->text().toStdString(), question);
    }
    static_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click();
    return true;
  });
}
// Closes a message that says `text`.
inline std::function<bool(QWidget*)> message(const std::string& text) {
  return on("Message", [text](QWidget* w) {
    EXPECT_THAT(static_cast<QMessageBox*>(w)->text().toStdString(), ::testing::HasSubstr(text));
    static_cast<QDialog*>(w)->accept();
    return true;
  });
}
// Types `text` into a text question and accepts it.
inline std::function<bool(QWidget*)> type_answer(const QString& text) {
  return on("Text question", [text](QWidget* w) {
    static_cast<QInputDialog*>(w)->setTextValue(text);
    static_cast<QDialog*>(w)->accept();
    return true;
  });
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
  }
  void TearDown() override {
    EXPECT_TRUE(answers.unexpected.isEmpty()) << answers.unexpected.join("\n").toStdString();
    window.reset();
    session.reset();
  }

  std::string card(const std::string& name, int count,
                   const std::string& first_capture = "2024:05:17 10:20:30") {
    const auto spec = fixtures::jpeg_card(count, name.substr(0, 3) + "_", first_capture);
    EXPECT_EQ(fixtures::write_sample_card(dir / name, spec).size(), std::size_t(count));
    return dir / name;
  }
  // Starts the program on these card roots with `settings` in the master preset.
  void open(const std::vector<std::string>& roots,
            const std::vector<std::pair<const char*, std::string>>& settings) {
    FakeDriveSource drives;
    for (const std::string& root : roots) drives.add_card(root, fs::path(root).filename());
    SessionServices services;
    services.drives = [drives] { return std::make_unique<FakeDriveSource>(drives); };
    session = std::make_unique<AppSession>(qt_ui, kSessionDesktop, std::move(services));
    ASSERT_TRUE(session->ok());
    for (const auto& [key, value] : settings)
      ASSERT_TRUE(put_preset_value(session->settings(), PresetKind::Master, key, value));
    ui::MainWindowOptions options;
    options.update_check = false;
    options.launch = [](const std::string&, const std::vector<std::string>&) { return true; };
    window = std::make_unique<ui::MainWindow>(*session, qt_ui, std::move(options));
    window->show();
    ASSERT_TRUE(test::wait_for([&] { return window->drives_known(); }));
  }
  // Starts the program on the card at `root`, its DCIM folder the card folder, copying into the
  // archive alone without verifying JPEGs; `settings` go on top.
  void open_card(const std::string& root,
                 std::vector<std::pair<const char*, std::string>> settings = {}) {
    settings.insert(settings.begin(), {{"PrimaryFolder", archive}, {"WantBackup", "0"},
                                       {"CardFolder", root + "/DCIM"}, {"WantJPEGVerify", "0"}});
    open({root}, settings);
  }
  // The first value the query finds; empty when it finds none.
  std::string value(const std::string& sql) {
    const std::optional<QueryResult> r = session->database()->query(sql);
    return r && !r->rows.empty() ? r->rows[0][0] : "";
  }
  std::string newest(const std::string& column) {
    return value("select ifnull(" + column +
                 ", '') from ingestion order by ingestion_sk desc limit 1");
  }
  // Does `act`, by default Return (Start) in the main window; true once the ingestion it began
  // ended successfully.
  bool start_and_finish(const std::function<void()>& act = {}) {
    bool finished = false;
    const auto hook = QObject::connect(window.get(), &ui::MainWindow::ingestion_finished,
                                       [&](bool ok) { finished = ok; });
    if (act)
      act();
    else
      QTest::keyClick(window.get(), Qt::Key_Return);
    const bool ok = test::wait_for([&] { return finished; });
    QObject::disconnect(hook);
    return ok;
  }
  QString pane() { return find_named<QPlainTextEdit>(window.get(), "Report")->toPlainText(); }
};

}  // namespace cw::test

namespace cw {
using test::run_cardwright;
using test::Desktop;
using test::images_below;
using test::message;
using test::on;
using test::press;
using test::type_answer;
using test::yes;
namespace fs = std::filesystem;
}  // namespace cw
