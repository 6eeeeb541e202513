// The one grid of the desktop program: a table model over rows of text and the view that shows
// them. The database window (every table of the catalogue, the metadata tables among them) and
// the multi-camera shoot show their rows through it: columns sorted by a click on their
// header, cells edited in place where the rows' owner allows it, and thousands of rows at
// once (rows have one fixed height, so only those in view are ever measured or drawn).
//
// The rows belong to the window that shows them: the grid keeps a pointer, draws from it, and
// hands every edit to the owner's store function. Sorting orders a view of the rows (numbers
// as numbers, text without regard to case) unless the owner keeps its own order, as the
// multi-camera table does.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <functional>
#include <string>
#include <vector>

namespace cw::ui {

struct GridColumn {
  QString title;
  int width = 100;  // initial width in pixels
};

class GridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using Rows = std::vector<std::vector<std::string>>;
  using QAbstractTableModel::QAbstractTableModel;

  // Shows `rows` (not owned; left unchanged by their owner until the next call) under
  // `columns`, in the order last chosen.
  void set_rows(std::vector<GridColumn> columns, const Rows* rows);
  const std::vector<GridColumn>& columns() const { return columns_; }

  // Which columns the user may edit, and the owner's store: true when the edit was kept (the
  // owner has then updated its rows).
  std::function<bool(int column)> editable;
  std::function<bool(int row, int column, const std::string& text)> store;
  // The owner orders its rows itself (ascending only) and calls set_rows again.
  std::function<void(int column)> sort_rows;

  // The owner's row shown in view row `row`, and the other way round (-1 when not shown).
  int source_row(int row) const;
  int view_row(int source) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  void sort(int column, Qt::SortOrder order) override;

 private:
  void order_rows();

  std::vector<GridColumn> columns_;
  const Rows* rows_ = nullptr;
  std::vector<int> order_;  // view row -> owner's row
  int sort_column_ = -1;
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
};

class GridView : public QTableView {
  Q_OBJECT

 public:
  explicit GridView(QWidget* parent = nullptr);
  GridModel& grid() { return *model_; }

  // Shows new rows, sized to the columns' widths when the columns changed.
  void show_rows(std::vector<GridColumn> columns, const GridModel::Rows* rows);
  // The owner's rows selected, in view order.
  std::vector<int> selected_rows() const;
  // Selects the owner's row and scrolls it into view.
  void select_row(int source);
  // A cell's editor is open.
  bool editing() const { return state() == QAbstractItemView::EditingState; }

 private:
  GridModel* model_;
};

}  // namespace cw::ui
