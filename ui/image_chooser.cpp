// The image chooser's model, filters and window.
#include "ui/image_chooser.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "ui/thumbnail_loader.h"

namespace cw::ui {

namespace {

constexpr int kThumbnailEdge = 160;
constexpr int kCellPadding = 8;
const QString kAll = QStringLiteral("All");

// One cell of the grid: the thumbnail centred in a fixed box, its tick box over the box's
// top-left corner, the file name below. Drawn here rather than by the standard icon layout, so
// that every cell has the same place for each part whatever the thumbnail's shape.
class ThumbnailDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  static QSize cell(const QFontMetrics& fm) {
    return QSize(kThumbnailEdge + 2 * kCellPadding,
                 kThumbnailEdge + 3 * kCellPadding + fm.height());
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
    return cell(option.fontMetrics);
  }

  static QRect image_box(const QRect& cell_rect) {
    return QRect(cell_rect.left() + kCellPadding, cell_rect.top() + kCellPadding, kThumbnailEdge,
                 kThumbnailEdge);
  }
  static QRect check_box(const QRect& cell_rect, const QWidget* widget) {
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const int size = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget);
    const QRect box = image_box(cell_rect);
    return QRect(box.left() + 4, box.top() + 4, size, size);
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    panel.text.clear();
    panel.icon = QIcon();
    panel.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);

    const QRect box = image_box(option.rect);
    const QPixmap pixmap = index.data(Qt::DecorationRole).value<QPixmap>();
    if (!pixmap.isNull()) {
      const QSize fitted = pixmap.size().scaled(box.size(), Qt::KeepAspectRatio);
      QRect target(QPoint(0, 0), fitted);
      target.moveCenter(box.center());
      painter->save();
      painter->setRenderHint(QPainter::SmoothPixmapTransform);
      painter->drawPixmap(target, pixmap);
      painter->restore();
    }

    QStyleOptionButton check;
    check.rect = check_box(option.rect, widget);
    check.state = QStyle::State_Enabled |
                  (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On
                                                                         : QStyle::State_Off);
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &check, painter, widget);

    const QRect text_rect(option.rect.left() + kCellPadding, box.bottom() + kCellPadding,
                          box.width(), option.fontMetrics.height());
    const QString name = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                       Qt::ElideMiddle, text_rect.width());
    painter->save();
    painter->setPen(option.palette.color(
        option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(text_rect, Qt::AlignHCenter | Qt::AlignVCenter, name);
    painter->restore();
  }

  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
    bool toggle = false;
    if (event->type() == QEvent::MouseButtonRelease) {
      const auto* me = static_cast<QMouseEvent*>(event);
      toggle = me->button() == Qt::LeftButton && check_box(option.rect, option.widget)
                                                     .adjusted(-4, -4, 4, 4)
                                                     .contains(me->position().toPoint());
    } else if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      toggle = key == Qt::Key_Space || key == Qt::Key_Select;
    }
    if (!toggle) return false;
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  }
};

}  // namespace

// ---------------------------------------------------------------- the model

ImageListModel::ImageListModel(int edge, QObject* parent)
    : QAbstractListModel(parent), loader_(new ThumbnailLoader(edge, this)) {
  connect(loader_, &ThumbnailLoader::loaded, this, [this](int row, const QImage& image) {
    if (row < 0 || row >= static_cast<int>(images_.size())) return;
    cache_.insert(row, image.isNull() ? placeholder(images_[static_cast<std::size_t>(row)].type)
                                      : QPixmap::fromImage(image));
    const QModelIndex i = index(row);
    Q_EMIT dataChanged(i, i, {Qt::DecorationRole});
  });
  connect(loader_, &ThumbnailLoader::dropped, this, [this](int row) { requested_.remove(row); });
}

// The workers stop before the thumbnails they would hand over go.
ImageListModel::~ImageListModel() { delete loader_; }

void ImageListModel::set_images(std::vector<ChoiceImage> images) {
  beginResetModel();
  images_ = std::move(images);
  ticked_.assign(images_.size(), false);
  cache_.clear();
  requested_.clear();
  endResetModel();
  Q_EMIT ticks_changed();
}

int ImageListModel::chosen_count() const {
  return static_cast<int>(std::count(ticked_.begin(), ticked_.end(), true));
}

void ImageListModel::set_ticked(const std::vector<int>& rows, bool ticked) {
  for (int r : rows) {
    if (r < 0 || r >= static_cast<int>(ticked_.size())) continue;
    ticked_[static_cast<std::size_t>(r)] = ticked;
  }
  if (!images_.empty()) Q_EMIT dataChanged(index(0), index(rowCount() - 1), {Qt::CheckStateRole});
  Q_EMIT ticks_changed();
}

int ImageListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(images_.size());
}

QPixmap ImageListModel::placeholder(const std::string& type) const {
  const QString key = QString::fromStdString(type);
  auto found = placeholders_.find(key);
  if (found != placeholders_.end()) return *found;
  QPixmap p(kThumbnailEdge, kThumbnailEdge * 3 / 4);
  p.fill(Qt::transparent);
  QPainter painter(&p);
  painter.setPen(QPen(QColor(128, 128, 128), 2));
  painter.drawRoundedRect(p.rect().adjusted(8, 8, -8, -8), 6, 6);
  QFont f = painter.font();
  f.setPointSizeF(f.pointSizeF() * 1.4);
  f.setBold(true);
  painter.setFont(f);
  painter.drawText(p.rect(), Qt::AlignCenter, key.isEmpty() ? QStringLiteral("?") : key);
  painter.end();
  placeholders_.insert(key, p);
  return p;
}

QVariant ImageListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(images_.size())) return {};
  const int row = index.row();
  const ChoiceImage& image = images_[static_cast<std::size_t>(row)];
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(image.name);
    case Qt::ToolTipRole:
      return QString::fromStdString(image.path + "\n" + image.day);
    case Qt::AccessibleTextRole:
      return QString::fromStdString(image.name);
    case Qt::CheckStateRole:
      return ticked_[static_cast<std::size_t>(row)] ? Qt::Checked : Qt::Unchecked;
    case Qt::DecorationRole: {
      auto cached = cache_.find(row);
      if (cached != cache_.end()) return *cached;
      if (!requested_.contains(row)) {
        requested_.insert(row);
        loader_->request(row, QString::fromStdString(image.path));
      }
      return placeholder(image.type);
    }
    default:
      return {};
  }
}

bool ImageListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid()) return false;
  ticked_[static_cast<std::size_t>(index.row())] =
      static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked;
  Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
  Q_EMIT ticks_changed();
  return true;
}

Qt::ItemFlags ImageListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

// ---------------------------------------------------------------- the filters

void ChoiceFilterModel::set_filter(const ChoiceFilter& filter) {
  filter_ = filter;
  invalidateFilter();
}

bool ChoiceFilterModel::filterAcceptsRow(int row, const QModelIndex&) const {
  const auto* model = static_cast<const ImageListModel*>(sourceModel());
  return filter_.admits(model->images()[static_cast<std::size_t>(row)]);
}

// ---------------------------------------------------------------- the window

ImageChooser::ImageChooser(const std::string& folder, bool include, const std::string& extensions,
                           QWidget* parent)
    : QDialog(parent), folder_(folder) {
  setWindowTitle(tr("Choose Images - %1").arg(QString::fromStdString(folder)));
  setAccessibleName(QStringLiteral("Image chooser"));
  auto* layout = new QVBoxLayout(this);

  auto* filters = new QHBoxLayout;
  auto combo = [&](const QString& label, const QString& name) {
    auto* l = new QLabel(label, this);
    auto* c = new QComboBox(this);
    c->setAccessibleName(name);
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    l->setBuddy(c);
    filters->addWidget(l);
    filters->addWidget(c);
    connect(c, &QComboBox::currentIndexChanged, this, &ImageChooser::apply_filter);
    return c;
  };
  folders_ = combo(tr("&Folder:"), QStringLiteral("Folder filter"));
  days_ = combo(tr("&Date:"), QStringLiteral("Date filter"));
  types_ = combo(tr("T&ype:"), QStringLiteral("Type filter"));
  filters->addStretch(1);
  auto* check_all = new QPushButton(tr("Check &All"), this);
  check_all->setAccessibleName(QStringLiteral("Check All"));
  auto* uncheck_all = new QPushButton(tr("&Uncheck All"), this);
  uncheck_all->setAccessibleName(QStringLiteral("Uncheck All"));
  for (QPushButton* b : {check_all, uncheck_all}) {
    b->setAutoDefault(false);
    filters->addWidget(b);
  }
  layout->addLayout(filters);

  model_ = new ImageListModel(kThumbnailEdge, this);
  filter_ = new ChoiceFilterModel(this);
  filter_->setSourceModel(model_);
  view_ = new QListView(this);
  view_->setAccessibleName(QStringLiteral("Images"));
  view_->setModel(filter_);
  view_->setViewMode(QListView::IconMode);
  view_->setItemDelegate(new ThumbnailDelegate(view_));
  view_->setGridSize(ThumbnailDelegate::cell(view_->fontMetrics()) + QSize(4, 4));
  view_->setUniformItemSizes(true);
  view_->setResizeMode(QListView::Adjust);
  view_->setMovement(QListView::Static);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setWordWrap(false);
  view_->setTextElideMode(Qt::ElideMiddle);
  view_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  layout->addWidget(view_, 1);

  auto* bottom = new QHBoxLayout;
  count_ = new QLabel(tr("Reading the folder..."), this);
  count_->setAccessibleName(QStringLiteral("Chosen count"));
  bottom->addWidget(count_, 1);
  auto* buttons = new QDialogButtonBox(this);
  ingest_ = buttons->addButton(tr("&Ingest Chosen"), QDialogButtonBox::AcceptRole);
  ingest_->setAccessibleName(QStringLiteral("Ingest Chosen"));
  ingest_->setEnabled(false);
  QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
  close->setAccessibleName(QStringLiteral("Close"));
  bottom->addWidget(buttons);
  layout->addLayout(bottom);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(check_all, &QPushButton::clicked, this, [this] { tick_visible(true); });
  connect(uncheck_all, &QPushButton::clicked, this, [this] { tick_visible(false); });
  connect(model_, &ImageListModel::ticks_changed, this, &ImageChooser::update_count);
  resize(960, 680);

  auto* watcher = new QFutureWatcher<std::vector<ChoiceImage>>(this);
  connect(watcher, &QFutureWatcher<std::vector<ChoiceImage>>::finished, this, [this, watcher] {
    show_listing(watcher->result());
    watcher->deleteLater();
  });
  watcher->setFuture(QtConcurrent::run(
      [folder, include, extensions] { return list_choice_images(folder, include, extensions); }));
}

void ImageChooser::show_listing(std::vector<ChoiceImage> images) {
  const ChoiceFacets facets = choice_facets(images);
  auto fill = [](QComboBox* c, const std::vector<std::string>& values, const QString& root) {
    const QSignalBlocker quiet(c);
    c->clear();
    c->addItem(kAll, QString());
    for (const std::string& v : values)
      c->addItem(v.empty() ? root : QString::fromStdString(v), QString::fromStdString(v));
  };
  fill(folders_, facets.folders, tr("(top folder)"));
  fill(days_, facets.days, QString());
  fill(types_, facets.types, tr("(none)"));
  model_->set_images(std::move(images));
  listed_ = true;
  update_count();
  Q_EMIT listed();
}

void ImageChooser::apply_filter() {
  ChoiceFilter f;
  f.folder = folders_->currentData().toString().toStdString();
  f.day = days_->currentData().toString().toStdString();
  f.type = types_->currentData().toString().toStdString();
  filter_->set_filter(f);
}

void ImageChooser::tick_visible(bool ticked) {
  std::vector<int> rows;
  for (int r = 0; r < filter_->rowCount(); ++r)
    rows.push_back(filter_->mapToSource(filter_->index(r, 0)).row());
  model_->set_ticked(rows, ticked);
}

void ImageChooser::update_count() {
  if (!listed_) return;
  const int chosen = model_->chosen_count();
  count_->setText(tr("%1 of %2 images chosen").arg(chosen).arg(model_->rowCount()));
  ingest_->setEnabled(chosen > 0);
  ingest_->setDefault(chosen > 0);
}

bool ImageChooser::screen_complete() const {
  if (!listed_) return false;
  const QRect area = view_->viewport()->rect();
  for (int r = 0; r < filter_->rowCount(); ++r) {
    const QModelIndex i = filter_->index(r, 0);
    const QRect rect = view_->visualRect(i);
    if (rect.top() > area.bottom()) break;
    if (rect.intersects(area) && !model_->has_thumbnail(filter_->mapToSource(i).row()))
      return false;
  }
  return true;
}

}  // namespace cw::ui
