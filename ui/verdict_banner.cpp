// The verdict strip of the main window.
#include "ui/verdict_banner.h"

#include <QLabel>
#include <QVBoxLayout>

namespace cw::ui {

namespace {

struct Colours {
  const char* background;
  const char* text;
};

// Dark text on amber and white on green and red: each pair is easy to read in light and dark
// desktop themes, as the banner paints its own background.
Colours colours_of(VerdictLevel level) {
  switch (level) {
    case VerdictLevel::kSafe: return {"#2e7d32", "#ffffff"};
    case VerdictLevel::kNotYet: return {"#f4b400", "#1f1f1f"};
    case VerdictLevel::kError: return {"#c62828", "#ffffff"};
    case VerdictLevel::kNone: break;
  }
  return {"transparent", "palette(window-text)"};
}

}  // namespace

VerdictBanner::VerdictBanner(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("VerdictBanner"));
  setAccessibleName(QStringLiteral("Verdict"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 8, 12, 8);
  layout->setSpacing(2);
  headline_ = new QLabel(this);
  headline_->setAccessibleName(QStringLiteral("Verdict headline"));
  QFont big = headline_->font();
  big.setPointSizeF(big.pointSizeF() * 1.3);
  big.setBold(true);
  headline_->setFont(big);
  detail_ = new QLabel(this);
  detail_->setAccessibleName(QStringLiteral("Verdict detail"));
  // Paths are long and have no spaces: the text wraps anywhere rather than widening the window.
  detail_->setWordWrap(true);
  detail_->setTextFormat(Qt::PlainText);
  headline_->setTextFormat(Qt::PlainText);
  layout->addWidget(headline_);
  layout->addWidget(detail_);
  setVisible(false);
}

void VerdictBanner::show_verdict(const RunVerdict& verdict) {
  level_ = verdict.level;
  if (verdict.level == VerdictLevel::kNone) {
    clear();
    return;
  }
  const Colours c = colours_of(verdict.level);
  setStyleSheet(QStringLiteral("QFrame#VerdictBanner { background: %1; border-radius: 4px; }"
                               "QFrame#VerdictBanner QLabel { color: %2; background: transparent; }")
                    .arg(QLatin1String(c.background), QLatin1String(c.text)));
  headline_->setText(QString::fromStdString(verdict.headline));
  // A label wraps at spaces only: a zero-width space after each "/" lets a path break there
  // (the tooltip and the report keep the path as it is).
  const QString detail = QString::fromStdString(verdict.detail);
  detail_->setText(QString(detail).replace(QLatin1Char('/'), QStringLiteral("/\u200b")));
  detail_->setToolTip(detail);
  detail_->setVisible(!verdict.detail.empty());
  setVisible(true);
}

void VerdictBanner::clear() {
  level_ = VerdictLevel::kNone;
  headline_->clear();
  detail_->clear();
  setVisible(false);
}

}  // namespace cw::ui
