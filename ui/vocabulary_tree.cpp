// The vocabulary tree.
#include "ui/vocabulary_tree.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "control/settings_vocabulary.h"

namespace cw::ui {

namespace {

constexpr int kNodeRole = Qt::UserRole + 1;

}  // namespace

VocabularyTree::VocabularyTree(CWParam& param, QWidget* parent) : QWidget(parent), param_(param) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  tree_ = new QTreeWidget(this);
  tree_->setAccessibleName(QStringLiteral("Vocabulary"));
  tree_->setHeaderHidden(true);
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::DoubleClicked);
  layout->addWidget(tree_, 1);
  auto* buttons = new QHBoxLayout;
  add_ = new QPushButton(tr("&Add"), this);
  add_->setAccessibleName(QStringLiteral("Add keyword"));
  rename_ = new QPushButton(tr("Re&name"), this);
  rename_->setAccessibleName(QStringLiteral("Rename keyword"));
  delete_ = new QPushButton(tr("De&lete"), this);
  delete_->setAccessibleName(QStringLiteral("Delete keyword"));
  for (QPushButton* b : {add_, rename_, delete_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  layout->addLayout(buttons);

  connect(add_, &QPushButton::clicked, this, &VocabularyTree::add);
  connect(rename_, &QPushButton::clicked, this, [this] {
    if (QTreeWidgetItem* item = tree_->currentItem(); item && node_of(item)->level >= 2)
      tree_->editItem(item);
  });
  connect(delete_, &QPushButton::clicked, this, &VocabularyTree::remove);
  connect(tree_, &QTreeWidget::itemChanged, this, &VocabularyTree::on_changed);
  connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    if (!filling_) set_expanded(item, true);
  });
  connect(tree_, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
    if (!filling_) set_expanded(item, false);
  });
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    const bool entry = item && node_of(item)->level >= 2;
    rename_->setEnabled(entry);
    delete_->setEnabled(entry);
    add_->setEnabled(item != nullptr);
  });
  reload();
}

void VocabularyTree::set_expanded(QTreeWidgetItem* item, bool expanded) {
  // Kept in the working set with the tree; saved with the next edit.
  node_of(item)->expanded = expanded;
  keep_vocabulary_layout(param_, vocabulary_);
}

VocabItemObj* VocabularyTree::node_of(QTreeWidgetItem* item) const {
  return reinterpret_cast<VocabItemObj*>(item->data(0, kNodeRole).value<quintptr>());
}

void VocabularyTree::fill(QTreeWidgetItem* parent_item, VocabItemObj& node) {
  for (VocabItemObj& child : node.children) {
    auto* item = parent_item ? new QTreeWidgetItem(parent_item) : new QTreeWidgetItem(tree_);
    item->setText(0, QString::fromStdString(child.text));
    item->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(&child)));
    child.tree_item = item;
    if (child.level == 1) {
      QFont f = item->font(0);
      f.setBold(true);
      item->setFont(0, f);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    } else {
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                     Qt::ItemIsEditable);
      item->setCheckState(0, child.checked ? Qt::Checked : Qt::Unchecked);
    }
    fill(item, child);
    item->setExpanded(child.expanded);
  }
}

void VocabularyTree::reload() {
  const std::vector<int> current = path_of(tree_->currentItem());
  filling_ = true;
  tree_->clear();
  read_vocabulary(param_, vocabulary_);
  fill(nullptr, vocabulary_.root());
  filling_ = false;
  QTreeWidgetItem* item = item_at(current);
  tree_->setCurrentItem(item ? item : tree_->topLevelItem(0));
}

std::vector<int> VocabularyTree::path_of(QTreeWidgetItem* item) const {
  std::vector<int> path;
  for (QTreeWidgetItem* i = item; i; i = i->parent())
    path.insert(path.begin(),
                i->parent() ? i->parent()->indexOfChild(i) : tree_->indexOfTopLevelItem(i));
  return path;
}

QTreeWidgetItem* VocabularyTree::item_at(const std::vector<int>& path) const {
  if (path.empty()) return nullptr;
  QTreeWidgetItem* item = tree_->topLevelItem(path[0]);
  for (std::size_t k = 1; item && k < path.size(); ++k) item = item->child(path[k]);
  return item;
}

void VocabularyTree::add() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item) return;
  add_vocabulary_entry(param_, vocabulary_, *node_of(item), "");
  reload();
  // The new entry is the last child of the entry that was current.
  if (QTreeWidgetItem* parent_item = tree_->currentItem();
      parent_item && parent_item->childCount()) {
    QTreeWidgetItem* fresh = parent_item->child(parent_item->childCount() - 1);
    tree_->setCurrentItem(fresh);
    tree_->editItem(fresh);
  }
  Q_EMIT edited();
}

void VocabularyTree::remove() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (!item || node_of(item)->level < 2) return;
  tree_->setCurrentItem(item->parent());
  remove_vocabulary_entry(param_, vocabulary_, *node_of(item));
  reload();
  Q_EMIT edited();
}

void VocabularyTree::on_changed(QTreeWidgetItem* item, int) {
  if (filling_) return;
  VocabItemObj* node = node_of(item);
  const bool checked = node->level >= 2 ? item->checkState(0) == Qt::Checked : node->checked;
  change_vocabulary_entry(param_, vocabulary_, *node, item->text(0).toStdString(), checked);
  // Rebuilding the tree here would delete the item Qt is still using: later.
  QMetaObject::invokeMethod(
      this, [this] { reload(); }, Qt::QueuedConnection);
  Q_EMIT edited();
}

}  // namespace cw::ui
