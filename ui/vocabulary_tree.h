// The keyword vocabulary as a checkable tree: the headings "Catalog Sets" and "Keywords" in
// bold without tick boxes, every entry below them with one. Add, Rename and Delete change the
// tree; every edit, a tick included, is saved at once into the keywords preset the master
// preset names, as the command line's vocabulary edits are.
#pragma once

#include <QWidget>
#include <vector>

#include "control/settings_access.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace cw::ui {

class VocabularyTree : public QWidget {
  Q_OBJECT

 public:
  VocabularyTree(CWParam& param, QWidget* parent = nullptr);
  // Reads the vocabulary of the master's working set again.
  void reload();

 Q_SIGNALS:
  void edited();

 private:
  void fill(QTreeWidgetItem* parent_item, VocabItemObj& node);
  VocabItemObj* node_of(QTreeWidgetItem* item) const;
  std::vector<int> path_of(QTreeWidgetItem* item) const;
  QTreeWidgetItem* item_at(const std::vector<int>& path) const;
  void set_expanded(QTreeWidgetItem* item, bool expanded);
  void add();
  void remove();
  void on_changed(QTreeWidgetItem* item, int column);

  CWParam& param_;
  Vocabulary vocabulary_;
  QTreeWidget* tree_;
  QPushButton *add_, *rename_, *delete_;
  bool filling_ = false;
};

}  // namespace cw::ui
