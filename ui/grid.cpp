// The grid's model and view.
#include "ui/grid.h"

#include <strings.h>

#include <QHeaderView>
#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace cw::ui {

namespace {

// A cell as a number when it is one whole integer ("-12", "0042"); text otherwise.
bool as_number(const std::string& text, long long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0' && errno == 0;
}

// Numbers before text, numbers by value, text without regard to case.
bool cell_less(const std::string& a, const std::string& b) {
  long long x = 0, y = 0;
  const bool na = as_number(a, x), nb = as_number(b, y);
  if (na != nb) return na;
  if (na) return x < y;
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

}  // namespace

// ---------------------------------------------------------------- the model

void GridModel::set_rows(std::vector<GridColumn> columns, const Rows* rows) {
  beginResetModel();
  if (columns.size() != columns_.size()) sort_column_ = -1;
  columns_ = std::move(columns);
  rows_ = rows;
  order_rows();
  endResetModel();
}

void GridModel::order_rows() {
  const int n = rows_ ? static_cast<int>(rows_->size()) : 0;
  order_.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) order_[static_cast<std::size_t>(i)] = i;
  if (sort_column_ < 0 || sort_rows) return;
  const auto c = static_cast<std::size_t>(sort_column_);
  static const std::string kEmpty;
  auto cell = [&](int row) -> const std::string& {
    const auto& r = (*rows_)[static_cast<std::size_t>(row)];
    return c < r.size() ? r[c] : kEmpty;
  };
  std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) {
    return sort_order_ == Qt::AscendingOrder ? cell_less(cell(a), cell(b))
                                             : cell_less(cell(b), cell(a));
  });
}

int GridModel::source_row(int row) const {
  return row >= 0 && row < static_cast<int>(order_.size()) ? order_[static_cast<std::size_t>(row)]
                                                           : -1;
}

int GridModel::view_row(int source) const {
  const auto it = std::find(order_.begin(), order_.end(), source);
  return it == order_.end() ? -1 : static_cast<int>(it - order_.begin());
}

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole &&
                           role != Qt::ToolTipRole && role != Qt::TextAlignmentRole))
    return {};
  const auto& row = (*rows_)[static_cast<std::size_t>(source_row(index.row()))];
  const auto c = static_cast<std::size_t>(index.column());
  if (c >= row.size()) return QString();
  if (role == Qt::TextAlignmentRole) {
    long long unused = 0;  // numbers line up on the right, as in a ledger
    return QVariant::fromValue(Qt::AlignVCenter |
                               (as_number(row[c], unused) ? Qt::AlignRight : Qt::AlignLeft));
  }
  const QString text = QString::fromStdString(row[c]);
  // A long cell is cut in the grid; its tool tip shows all of it.
  if (role == Qt::ToolTipRole) return text.size() > 40 ? text : QVariant();
  return text;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= static_cast<int>(columns_.size()))
    return QAbstractTableModel::headerData(section, orientation, role);
  return columns_[static_cast<std::size_t>(section)].title;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && store && editable && editable(index.column())) f |= Qt::ItemIsEditable;
  return f;
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || !store) return false;
  if (value.toString() == data(index, Qt::EditRole).toString()) return true;
  if (!store(source_row(index.row()), index.column(), value.toString().toStdString())) return false;
  Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

void GridModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return;
  if (sort_rows) {
    sort_rows(column);  // the owner shows its rows again in its own order
    return;
  }
  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<int> sources;
  for (const QModelIndex& i : before) sources.push_back(source_row(i.row()));
  sort_column_ = column;
  sort_order_ = order;
  order_rows();
  std::vector<int> inverse(order_.size());
  for (std::size_t i = 0; i < order_.size(); ++i)
    inverse[static_cast<std::size_t>(order_[i])] = static_cast<int>(i);
  QModelIndexList after;
  for (std::size_t i = 0; i < sources.size(); ++i)
    after << index(inverse[static_cast<std::size_t>(sources[i])],
                   before[static_cast<int>(i)].column());
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// ---------------------------------------------------------------- the view

GridView::GridView(QWidget* parent) : QTableView(parent), model_(new GridModel(this)) {
  setModel(model_);
  setSortingEnabled(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAlternatingRowColors(true);
  setWordWrap(false);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  verticalHeader()->setVisible(false);
  // One fixed row height: nothing is measured row by row, however many rows there are.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(true);
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
}

void GridView::show_rows(std::vector<GridColumn> columns, const GridModel::Rows* rows) {
  bool same = columns.size() == model_->columns().size();
  for (std::size_t i = 0; same && i < columns.size(); ++i)
    same = columns[i].title == model_->columns()[i].title;
  const std::vector<GridColumn> shown = columns;
  model_->set_rows(std::move(columns), rows);
  if (same) return;
  horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  // Never narrower than the title with the sort arrow beside it, nor than the first rows'
  // texts (dates, names) up to twice the width asked for.
  const QFontMetrics header = horizontalHeader()->fontMetrics();
  const QFontMetrics cells = fontMetrics();
  constexpr std::size_t kMeasuredRows = 50;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    int content = 0;
    for (std::size_t r = 0; rows && r < rows->size() && r < kMeasuredRows; ++r)
      if (i < (*rows)[r].size())
        content = std::max(content, cells.horizontalAdvance(QString::fromStdString((*rows)[r][i])));
    // The last column stretches to the window's edge; it asks only for what it shows.
    const bool last = i + 1 == shown.size();
    const int wanted = last ? std::min(content + 16, shown[i].width)
                            : std::max(shown[i].width, std::min(content + 16, 2 * shown[i].width));
    setColumnWidth(static_cast<int>(i),
                   std::max(wanted, header.horizontalAdvance(shown[i].title) + 32));
  }
}

std::vector<int> GridView::selected_rows() const {
  std::vector<int> view_rows;
  for (const QModelIndex& i : selectionModel()->selectedRows()) view_rows.push_back(i.row());
  std::sort(view_rows.begin(), view_rows.end());
  std::vector<int> rows;
  for (int r : view_rows) rows.push_back(model_->source_row(r));
  return rows;
}

void GridView::select_row(int source) {
  const int row = model_->view_row(source);
  if (row < 0) return;
  selectRow(row);
  scrollTo(model_->index(row, 0));
}

}  // namespace cw::ui
