// The multiple-folder selection dialog.
#include "ui/folder_selection.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace cw::ui {

FolderSelectionDialog::FolderSelectionDialog(const QString& text, const std::string& parent,
                                             const std::vector<std::string>& names, QWidget* owner)
    : QDialog(owner) {
  setWindowTitle(tr("Multiple Folder Selection"));
  setAccessibleName(QStringLiteral("Multiple Folder Selection"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(text, this);
  label->setWordWrap(true);
  layout->addWidget(label);
  auto* where = new QLabel(tr("In %1:").arg(QString::fromStdString(parent)), this);
  where->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(where);
  list_ = new QListWidget(this);
  list_->setAccessibleName(QStringLiteral("Folders"));
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  for (const std::string& name : names) list_->addItem(QString::fromStdString(name));
  layout->addWidget(list_, 1);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* select = buttons->addButton(tr("Select"), QDialogButtonBox::AcceptRole);
  select->setAccessibleName(QStringLiteral("Select"));
  select->setDefault(true);
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setAccessibleName(QStringLiteral("Cancel"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  select->setEnabled(false);
  connect(list_, &QListWidget::itemSelectionChanged, this,
          [this, select] { select->setEnabled(!list_->selectedItems().isEmpty()); });
  resize(460, 420);
}

std::optional<std::vector<std::string>> FolderSelectionDialog::ask() {
  if (exec() != QDialog::Accepted) return std::nullopt;
  std::vector<std::string> names;
  for (int i = 0; i < list_->count(); ++i)
    if (list_->item(i)->isSelected()) names.push_back(list_->item(i)->text().toStdString());
  return names;
}

FolderPicker folder_picker(QWidget* owner, const QString& text) {
  return [owner, text](const std::string& parent, const std::vector<std::string>& names) {
    FolderSelectionDialog dialog(text, parent, names, owner);
    return dialog.ask();
  };
}

}  // namespace cw::ui
