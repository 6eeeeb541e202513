// The first start of the desktop program, and the sizes its windows are given.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QScreen>
#include <QVBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <map>

#include "tests/ui/desktop_fixture.h"
#include "ui/first_run_assistant.h"
#include "ui/macro_lab.h"
#include "ui/window_fit.h"

namespace cw {
namespace {

using test::click_named;
using test::find_named;

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
  EXPECT_EQ(from_window.at("master.NameFormat"), std::vector<std::string>{format});
  EXPECT_EQ(from_window.at("photographer.Creator"), std::vector<std::string>{"Ann Lee"});

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

}  // namespace
}  // namespace cw
