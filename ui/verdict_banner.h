// The strip above the report that says, once a run has finished, whether the card may be
// formatted: green when it is safe, amber when it is not yet (with the reason), red when the
// run ended with an error (with what failed first and its path). Hidden before the first run
// and while a run goes on. The report below it holds the same texts to copy.
#pragma once

#include <QFrame>

#include "control/run_verdict.h"

class QLabel;

namespace cw::ui {

class VerdictBanner : public QFrame {
  Q_OBJECT

 public:
  explicit VerdictBanner(QWidget* parent = nullptr);

  // Shows `verdict`; a verdict of level kNone hides the banner.
  void show_verdict(const RunVerdict& verdict);
  void clear();

  VerdictLevel level() const { return level_; }

 private:
  QLabel* headline_;
  QLabel* detail_;
  VerdictLevel level_ = VerdictLevel::kNone;
};

}  // namespace cw::ui
