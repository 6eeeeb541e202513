// Windows that fit the screen and remember how the user left them. The main window opens
// where it was closed, moved and shrunk onto the screen it starts on, or, the first time, at a
// share of the screen that grows with it. Every other window of the program keeps its size and
// the positions of its dividers between runs. And the report pane, once a run has ended, shows
// its verdict.
#pragma once

#include <QObject>

class QPlainTextEdit;
class QWidget;

namespace cw::ui {

// Places the main window when it is first shown, and stores its placement when it closes.
void place_main_window(QWidget& window);
void store_main_window_placement(const QWidget& window);

// Shrinks a window about to open larger than the free part of its screen, less the title bar
// and borders the window manager adds, so that it shows whole, title bar included, on a small
// or scaled screen; never below the size its contents need.
void fit_to_screen(QWidget& window);

// Installed once on the application: restores the size and splitter positions of each of the
// program's dialogs (known by its class) when it is first shown, and stores them when it is
// hidden.
class WindowMemory : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Scrolls the report so that its last verdict ("Card safe to format: ...", "Card not yet safe
// to format: ...") is in view, or to its end when it holds none.
void show_verdict(QPlainTextEdit* pane);

}  // namespace cw::ui
