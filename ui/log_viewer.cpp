// The log window.
#include "ui/log_viewer.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#include "control/log_services.h"
#include "ui/background.h"
#include "ui/window_fit.h"

namespace cw::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Lines kept in the window while it follows the log; the oldest go first.
constexpr int kMaxLines = 200000;
// Reads in one follow step: a log that grew by more waits for the next step.
constexpr int kReadsPerFollow = 8;

}  // namespace

LogViewer::LogViewer(const std::string& log_path, ProgramLauncher launch, QWidget* parent)
    : QDialog(parent),
      follower_(std::make_shared<LogFollower>(log_path)),
      launch_(std::move(launch)) {
  setWindowTitle(tr("Cardwright Log"));
  setAccessibleName(QStringLiteral("Log viewer"));
  auto* layout = new QVBoxLayout(this);
  auto* file = new QLabel(q(log_path), this);
  file->setAccessibleName(QStringLiteral("Log file"));
  file->setTextInteractionFlags(Qt::TextSelectableByMouse);
  file->setWordWrap(true);
  layout->addWidget(file);

  log_ = new QPlainTextEdit(this);
  log_->setAccessibleName(QStringLiteral("Log"));
  log_->setReadOnly(true);
  log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  // Log lines are long: a scroll bar that came and went would change the height of the view
  // after it was scrolled to its end, and hide the last line.
  log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setMaximumBlockCount(kMaxLines);
  log_->setPlaceholderText(tr("Reading the log..."));
  layout->addWidget(log_, 1);

  auto* search = new QHBoxLayout;
  auto* find_label = new QLabel(tr("&Find:"), this);
  find_ = new QLineEdit(this);
  find_->setAccessibleName(QStringLiteral("Find"));
  find_->setClearButtonEnabled(true);
  find_label->setBuddy(find_);
  auto* next = new QPushButton(tr("&Next"), this);
  next->setAccessibleName(QStringLiteral("Find next"));
  next->setAutoDefault(false);
  auto* previous = new QPushButton(tr("&Previous"), this);
  previous->setAccessibleName(QStringLiteral("Find previous"));
  previous->setAutoDefault(false);
  note_ = new QLabel(this);
  note_->setAccessibleName(QStringLiteral("Find result"));
  search->addWidget(find_label);
  search->addWidget(find_, 1);
  search->addWidget(next);
  search->addWidget(previous);
  search->addWidget(note_);
  layout->addLayout(search);

  auto* buttons = new QHBoxLayout;
  editor_ = new QPushButton(tr("Open in &Editor"), this);
  editor_->setAccessibleName(QStringLiteral("Open in editor"));
  editor_->setAutoDefault(false);
  // Without an editor or a desktop opener the button could only fail.
  if (log_editor().empty()) {
    editor_->setEnabled(false);
    editor_->setToolTip(tr("Set VISUAL or EDITOR, or install xdg-open, to open the log in an "
                           "editor."));
  }
  auto* close = new QPushButton(tr("Close"), this);
  close->setAccessibleName(QStringLiteral("Close"));
  close->setAutoDefault(false);
  buttons->addWidget(editor_);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(find_, &QLineEdit::returnPressed, this, [this] { find(find_->text()); });
  connect(find_, &QLineEdit::textChanged, note_, &QLabel::clear);
  connect(next, &QPushButton::clicked, this, [this] { find(find_->text()); });
  connect(previous, &QPushButton::clicked, this, [this] { find(find_->text(), true); });
  auto* find_key = new QShortcut(QKeySequence::Find, this);
  connect(find_key, &QShortcut::activated, this, [this] {
    find_->setFocus();
    find_->selectAll();
  });
  connect(editor_, &QPushButton::clicked, this,
          [this] { view_log(follower_->path(), launch_); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  resize(900, 600);
  fit_to_screen(*this);

  timer_ = new QTimer(this);
  timer_->setInterval(kFollowMs);
  connect(timer_, &QTimer::timeout, this, &LogViewer::follow);
  // The first read takes up to a few megabytes: on a worker, then the window follows.
  run_in_background(
      this, [follower = follower_] { return follower->read(); },
      [this](const LogFollower::Lines& first) {
        log_->setPlaceholderText(tr("The log is empty."));
        show_lines(first.text, first.restarted, first.cut);
        loaded_ = true;
        timer_->start();
        Q_EMIT loaded();
      });
}

LogViewer::~LogViewer() = default;

void LogViewer::follow() {
  if (!loaded_) return;
  for (int i = 0; i < kReadsPerFollow; ++i) {
    const LogFollower::Lines lines = follower_->read();
    if (lines.text.empty() && !lines.restarted) return;
    show_lines(lines.text, lines.restarted, lines.cut);
  }
}

void LogViewer::show_lines(const std::string& text, bool restarted, bool cut) {
  QScrollBar* bar = log_->verticalScrollBar();
  // A reader who scrolled up keeps the place; one at the end (or a first read) follows.
  const bool follow_end = !loaded_ || restarted || bar->value() == bar->maximum();
  const int kept = bar->value();
  if (restarted) log_->clear();
  if (cut)
    note_->setText(tr("Only the end of a long log is shown here; Open in Editor shows it all."));
  if (!text.empty()) {
    QTextCursor end(log_->document());
    end.movePosition(QTextCursor::End);
    // Lines arrive whole, each with its line end: the last one ends the document's text.
    QString lines = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (lines.endsWith(QLatin1Char('\n'))) lines.chop(1);
    if (!log_->document()->isEmpty()) lines.prepend(QLatin1Char('\n'));
    end.insertText(lines);
  }
  bar->setValue(follow_end ? bar->maximum() : kept);
}

bool LogViewer::find(const QString& text, bool backward) {
  if (text.isEmpty()) return false;
  const QTextDocument::FindFlags flags =
      backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
  if (log_->find(text, flags)) {
    note_->clear();
    return true;
  }
  // From the other end once more.
  QTextCursor cursor = log_->textCursor();
  cursor.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
  const QTextCursor before = log_->textCursor();
  log_->setTextCursor(cursor);
  if (log_->find(text, flags)) {
    note_->setText(backward ? tr("Went on from the end.") : tr("Went on from the start."));
    return true;
  }
  log_->setTextCursor(before);
  note_->setText(tr("Not found."));
  return false;
}

QString LogViewer::text() const { return log_->toPlainText(); }

}  // namespace cw::ui
