// The answer dialog.
#include "ui/choice_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

namespace cw::ui {

namespace {
constexpr const char* kOther = "Other...";
// A list line longer than this (in pixels) scrolls sideways instead of widening the dialog
// past a small screen.
constexpr int kWidestList = 1100;
}

ChoiceDialog::ChoiceDialog(const QString& title, const QString& text,
                           const std::vector<std::string>& choices, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  setAccessibleName(title);
  // Wide enough for its title in the window frame, which a short list would cut.
  setMinimumWidth(fontMetrics().horizontalAdvance(title) + 160);
  auto* layout = new QVBoxLayout(this);
  if (!text.isEmpty()) {
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
  }
  const bool listed = !choices.empty() && choices.back() == kOther;
  auto* buttons = new QDialogButtonBox(this);
  if (listed) {
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Choices"));
    for (std::size_t i = 0; i + 1 < choices.size(); ++i)
      list_->addItem(QString::fromStdString(choices[i]));
    list_->setCurrentRow(0);
    // Every line whole: a card's label and its folder are what tells two cards apart.
    const int widest = list_->sizeHintForColumn(0) + 2 * list_->frameWidth() +
                       list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    list_->setMinimumWidth(std::min(widest, kWidestList));
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(list_);
    QPushButton* other = buttons->addButton(tr("&Other..."), QDialogButtonBox::ActionRole);
    other->setAccessibleName(QString::fromStdString(kOther));
    const int other_index = static_cast<int>(choices.size()) - 1;
    connect(other, &QPushButton::clicked, this, [this, other_index] { choose(other_index); });
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setAccessibleName(QStringLiteral("OK"));
    ok->setEnabled(list_->count() > 0);
    ok->setDefault(list_->count() > 0);
    buttons->addButton(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
    connect(ok, &QPushButton::clicked, this, [this] {
      if (list_->currentRow() >= 0) choose(list_->currentRow());
    });
    connect(list_, &QListWidget::itemActivated, this, [this] { choose(list_->currentRow()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  } else {
    for (std::size_t i = 0; i < choices.size(); ++i) {
      auto* b =
          buttons->addButton(QString::fromStdString(choices[i]), QDialogButtonBox::ActionRole);
      b->setAccessibleName(QString::fromStdString(choices[i]));
      const int index = static_cast<int>(i);
      connect(b, &QPushButton::clicked, this, [this, index] { choose(index); });
    }
  }
  layout->addWidget(buttons);
}

void ChoiceDialog::choose(int index) {
  chosen_ = index;
  accept();
}

std::optional<int> ChoiceDialog::ask() {
  chosen_.reset();
  exec();
  return chosen_;
}

}  // namespace cw::ui
