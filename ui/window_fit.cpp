// Window placement and memory.
#include "ui/window_fit.h"

#include <QDataStream>
#include <QDialog>
#include <QEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTextBlock>
#include <QWidget>

#include "control/window_placement.h"

namespace cw::ui {

namespace {

// Set on a dialog once its remembered state has been applied: a dialog shown again keeps the
// size it has.
constexpr const char* kRestored = "cwWindowRestored";
// Both verdicts contain it.
constexpr const char* kVerdictMark = "safe to format";

// The program's own dialogs, by class: message boxes and file choosers keep their own sizes.
QString memory_key(const QWidget& w) {
  QString name = QString::fromLatin1(w.metaObject()->className());
  if (!name.startsWith(QLatin1String("cw::ui::"))) return {};
  return name.replace(QLatin1String("::"), QLatin1String("."));
}

QByteArray state_of(const QWidget& w) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out << w.saveGeometry();
  const QList<QSplitter*> splitters = w.findChildren<QSplitter*>();
  out << static_cast<qint32>(splitters.size());
  for (const QSplitter* s : splitters) out << s->saveState();
  return bytes;
}

void restore_state(QWidget& w, const QByteArray& bytes) {
  QDataStream in(bytes);
  QByteArray geometry;
  qint32 count = 0;
  in >> geometry >> count;
  if (in.status() != QDataStream::Ok) return;
  w.restoreGeometry(geometry);
  const QList<QSplitter*> splitters = w.findChildren<QSplitter*>();
  // A window whose dividers changed since keeps its own.
  if (count != splitters.size()) return;
  for (QSplitter* s : splitters) {
    QByteArray state;
    in >> state;
    if (in.status() != QDataStream::Ok) return;
    s->restoreState(state);
  }
}

}  // namespace

void place_main_window(QWidget& window) {
  const std::optional<WindowPlacement> stored = load_window_placement();
  const QScreen* screen = window.screen();
  if (!screen) return;
  const QRect free = screen->availableGeometry();
  const QSize least = window.minimumSizeHint();
  const WindowPlacement p = fit_window_placement(
      stored, {free.x(), free.y(), free.width(), free.height()}, least.width(), least.height());
  window.setGeometry(p.x, p.y, p.width, p.height);
  if (p.maximized) window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

void fit_to_screen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (!screen) return;
  const QRect free = screen->availableGeometry();
  const int border = window.style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  const int title_bar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  const QSize room(free.width() - 2 * border, free.height() - title_bar - 2 * border);
  const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
  window.resize(window.size().boundedTo(room).expandedTo(least));
}

void store_main_window_placement(const QWidget& window) {
  const QRect g = window.normalGeometry();
  save_window_placement({g.x(), g.y(), g.width(), g.height(), window.isMaximized()});
}

bool WindowMemory::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::Show && type != QEvent::Hide) return false;
  auto* dialog = qobject_cast<QDialog*>(watched);
  if (!dialog || !dialog->isWindow()) return false;
  const QString key = memory_key(*dialog);
  if (key.isEmpty()) return false;
  if (type == QEvent::Show && !dialog->property(kRestored).toBool()) {
    dialog->setProperty(kRestored, true);
    if (std::optional<std::vector<std::uint8_t>> bytes = load_window_state(key.toStdString()))
      restore_state(*dialog, QByteArray(reinterpret_cast<const char*>(bytes->data()),
                                        static_cast<qsizetype>(bytes->size())));
  } else if (type == QEvent::Hide && dialog->property(kRestored).toBool()) {
    const QByteArray bytes = state_of(*dialog);
    save_window_state(key.toStdString(), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
  return false;
}

void show_verdict(QPlainTextEdit* pane) {
  QTextDocument* doc = pane->document();
  QTextCursor end(doc);
  end.movePosition(QTextCursor::End);
  const QTextCursor verdict =
      doc->find(QString::fromLatin1(kVerdictMark), end, QTextDocument::FindBackward);
  // The end first, then back to the verdict: it comes to rest near the top of the view with
  // what follows it below.
  pane->setTextCursor(end);
  pane->ensureCursorVisible();
  if (verdict.isNull()) return;
  QTextCursor line(verdict.block());
  pane->setTextCursor(line);
  pane->ensureCursorVisible();
}

}  // namespace cw::ui
