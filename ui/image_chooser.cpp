// The image chooser's model, filters and window.
#include "ui/image_chooser.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFuture>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "ui/thumbnail_loader.h"

namespace cw::ui {

namespace {

constexpr int kThumbnailEdge = 160;
constexpr int kCellPadding = 8;
// The longest side of the large view.
constexpr int kLargeEdge = 1200;
// Large views kept for showing again.
constexpr int kLargeCached = 12;
const QString kAll = QStringLiteral("All");

// A movie's length as a camera shows it: "0:07", "12:30", "1:02:03".
QString duration_text(double seconds) {
  if (seconds < 0) return QString();
  const long long s = static_cast<long long>(seconds + 0.5);
  if (s >= 3600)
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// A label on a dark rounded plate, at `corner` of `box` (Qt::TopRightCorner or
// Qt::BottomLeftCorner).
void draw_badge(QPainter* painter, const QRect& box, const QString& text, Qt::Corner corner,
                const QColor& plate) {
  const QFontMetrics fm = painter->fontMetrics();
  const QSize size(fm.horizontalAdvance(text) + 10, fm.height() + 4);
  const QPoint at = corner == Qt::TopRightCorner
                        ? QPoint(box.right() - size.width() - 3, box.top() + 3)
                        : QPoint(box.left() + 3, box.bottom() - size.height() - 3);
  const QRect plate_rect(at, size);
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  painter->setPen(Qt::NoPen);
  painter->setBrush(plate);
  painter->drawRoundedRect(plate_rect, 4, 4);
  painter->setPen(Qt::white);
  painter->drawText(plate_rect, Qt::AlignCenter, text);
  painter->restore();
}

// One cell of the grid: the thumbnail centred in a fixed box, its tick box over the box's
// top-left corner, the file name and the capture time below; an archived image faded with an
// "In archive" badge, a movie with its length. Drawn here rather than by the standard icon
// layout, so that every cell has the same place for each part whatever the thumbnail's shape.
class ThumbnailDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  static QSize cell(const QFontMetrics& fm) {
    return QSize(kThumbnailEdge + 2 * kCellPadding,
                 kThumbnailEdge + 3 * kCellPadding + 2 * fm.height());
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
    const bool archived = index.data(ImageListModel::kArchivedRole).toBool();
    QRect target = box;
    if (!pixmap.isNull()) {
      const QSize fitted = pixmap.size().scaled(box.size(), Qt::KeepAspectRatio);
      target = QRect(QPoint(0, 0), fitted);
      target.moveCenter(box.center());
      painter->save();
      painter->setRenderHint(QPainter::SmoothPixmapTransform);
      if (archived) painter->setOpacity(0.4);  // faded: safe already, nothing to do
      painter->drawPixmap(target, pixmap);
      // A frame, so that a white or empty picture still shows where it is.
      if (index.data(ImageListModel::kPictureRole).toBool()) {
        painter->setPen(QPen(option.palette.color(QPalette::Mid), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(target.adjusted(0, 0, -1, -1));
      }
      painter->restore();
    }
    if (archived)
      draw_badge(painter, target, QObject::tr("In archive"), Qt::TopRightCorner,
                 QColor(0, 110, 60, 220));
    const QVariant video = index.data(ImageListModel::kVideoRole);
    if (video.isValid()) {
      const QString length = video.toString();
      draw_badge(painter, target,
                 length.isEmpty() ? QStringLiteral("\u25B6") : QStringLiteral("\u25B6 ") + length,
                 Qt::BottomLeftCorner, QColor(0, 0, 0, 180));
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
    const QRect time_rect = text_rect.translated(0, option.fontMetrics.height());
    painter->setPen(option.palette.color(option.state & QStyle::State_Selected
                                             ? QPalette::HighlightedText
                                             : QPalette::PlaceholderText));
    painter->drawText(time_rect, Qt::AlignHCenter | Qt::AlignVCenter,
                      index.data(ImageListModel::kCapturedRole).toString());
    painter->restore();
  }

  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
    // Keys are the window's (Space views, T ticks); a click on the tick box ticks.
    if (event->type() != QEvent::MouseButtonRelease) return false;
    const auto* me = static_cast<QMouseEvent*>(event);
    const QRect target = check_box(option.rect, option.widget).adjusted(-4, -4, 4, 4);
    if (me->button() != Qt::LeftButton || !target.contains(me->position().toPoint())) return false;
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  }
};

}  // namespace

// ---------------------------------------------------------------- the model

ImageListModel::ImageListModel(int edge, QObject* parent)
    : QAbstractListModel(parent), loader_(new ThumbnailLoader(edge, this)) {
  connect(loader_, &ThumbnailLoader::loaded, this,
          [this](int row, const QImage& image, const QString& captured, bool video,
                 double duration) {
            if (row < 0 || row >= static_cast<int>(images_.size())) return;
            const ChoiceImage& listed = images_[static_cast<std::size_t>(row)];
            cache_.insert(row, image.isNull() ? placeholder(listed.type, listed.video, true)
                                              : QPixmap::fromImage(image));
            if (!image.isNull()) pictures_.insert(row);
            captured_.insert(row, captured);
            if (video) durations_.insert(row, duration_text(duration));
            const QModelIndex i = index(row);
            Q_EMIT dataChanged(i, i);
          });
  connect(loader_, &ThumbnailLoader::dropped, this, [this](int row) { requested_.remove(row); });
}

// The workers stop before the thumbnails they would hand over go.
ImageListModel::~ImageListModel() { delete loader_; }

void ImageListModel::set_images(std::vector<ChoiceImage> images) {
  beginResetModel();
  images_ = std::move(images);
  ticked_.assign(images_.size(), false);
  archived_.assign(images_.size(), false);
  user_ticked_ = false;
  cache_.clear();
  pictures_.clear();
  captured_.clear();
  durations_.clear();
  requested_.clear();
  endResetModel();
  Q_EMIT ticks_changed();
}

int ImageListModel::chosen_count() const {
  return static_cast<int>(std::count(ticked_.begin(), ticked_.end(), true));
}

void ImageListModel::set_archived(const std::vector<bool>& archived) {
  archived_ = archived;
  archived_.resize(images_.size(), false);
  if (!user_ticked_)
    for (std::size_t i = 0; i < ticked_.size(); ++i) ticked_[i] = !archived_[i];
  if (!images_.empty()) Q_EMIT dataChanged(index(0), index(rowCount() - 1));
  Q_EMIT ticks_changed();
}

bool ImageListModel::archived(int row) const {
  return row >= 0 && row < static_cast<int>(archived_.size()) &&
         archived_[static_cast<std::size_t>(row)];
}

void ImageListModel::set_ticked(const std::vector<int>& rows, bool ticked) {
  user_ticked_ = true;
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

QPixmap ImageListModel::placeholder(const std::string& type, bool video, bool read) const {
  const QString name = type.empty() ? QStringLiteral("?") : QString::fromStdString(type);
  const QString key = name + (read ? (video ? QStringLiteral("/movie") : QStringLiteral("/none"))
                                   : QString());
  auto found = placeholders_.find(key);
  if (found != placeholders_.end()) return *found;
  QPixmap p(kThumbnailEdge, kThumbnailEdge * (read && video ? 9 : 12) / 16);
  p.fill(Qt::transparent);
  QPainter painter(&p);
  painter.setRenderHint(QPainter::Antialiasing);
  QFont f = painter.font();
  if (read && video) {
    // A movie without a poster: a dark frame, a play sign and its type; the length is drawn
    // over it as on every movie's tile.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 40, 46));
    painter.drawRoundedRect(p.rect().adjusted(2, 2, -2, -2), 6, 6);
    const QPointF c = QRectF(p.rect()).center();
    const double r = p.height() / 5.0;
    painter.setBrush(QColor(235, 235, 235));
    painter.drawPolygon(QPolygonF({c + QPointF(-r * 0.6, -r), c + QPointF(-r * 0.6, r),
                                   c + QPointF(r, 0)}));
    painter.setPen(QColor(200, 200, 200));
    f.setBold(true);
    painter.setFont(f);
    painter.drawText(p.rect().adjusted(10, 6, -10, -6), Qt::AlignTop | Qt::AlignRight, name);
  } else {
    painter.setPen(QPen(QColor(128, 128, 128), 2));
    painter.drawRoundedRect(p.rect().adjusted(8, 8, -8, -8), 6, 6);
    QFont big = f;
    big.setPointSizeF(f.pointSizeF() * 1.4);
    big.setBold(true);
    painter.setFont(big);
    if (!read) {
      painter.drawText(p.rect(), Qt::AlignCenter, name);
    } else {
      // Read, and no picture in it: said, so that the tile is not taken for one still loading.
      const int middle = p.height() / 2;
      painter.drawText(QRect(0, 0, p.width(), middle), Qt::AlignHCenter | Qt::AlignBottom, name);
      painter.setFont(f);
      painter.drawText(QRect(0, middle + 4, p.width(), p.height() - middle - 4),
                       Qt::AlignHCenter | Qt::AlignTop, tr("no preview"));
    }
  }
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
    case Qt::ToolTipRole: {
      QString tip = QString::fromStdString(image.path);
      const QString when = captured_.value(row);
      if (!when.isEmpty()) tip += QStringLiteral("\n") + when;
      if (archived(row)) tip += QStringLiteral("\n") + tr("Already in the archive");
      return tip;
    }
    case kCapturedRole:
      return captured_.value(row);
    case kArchivedRole:
      return archived(row);
    case kPictureRole:
      return pictures_.contains(row);
    case kVideoRole:
      return image.video ? QVariant(durations_.value(row)) : QVariant();
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
  user_ticked_ = true;
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
                           QWidget* parent, AppSession* session)
    : QDialog(parent), folder_(folder), session_(session) {
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
  view_->installEventFilter(this);
  layout->addWidget(view_, 1);
  connect(view_, &QListView::doubleClicked, this, [this] { preview_current(); });

  auto* hint = new QLabel(
      tr("Space or double-click: view large    T: tick or untick the selected images    "
         "Esc: leave without changes"),
      this);
  hint->setAccessibleName(QStringLiteral("Hint"));
  hint->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(hint);

  auto* bottom = new QHBoxLayout;
  count_ = new QLabel(tr("Reading the folder..."), this);
  count_->setAccessibleName(QStringLiteral("Chosen count"));
  bottom->addWidget(count_, 1);
  auto* buttons = new QDialogButtonBox(this);
  ingest_ = buttons->addButton(tr("&Ingest Chosen"), QDialogButtonBox::AcceptRole);
  ingest_->setAccessibleName(QStringLiteral("Ingest Chosen"));
  ingest_->setEnabled(false);
  // Close keeps the ticks for the next Start; Escape leaves everything as it was.
  QPushButton* close = buttons->addButton(tr("Close"), QDialogButtonBox::ActionRole);
  close->setAccessibleName(QStringLiteral("Close"));
  close->setAutoDefault(false);
  bottom->addWidget(buttons);
  layout->addLayout(bottom);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(close, &QPushButton::clicked, this, [this] { done(kKeepChoice); });
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
  std::vector<ChoiceImage> for_ledger = session_ ? images : std::vector<ChoiceImage>{};
  model_->set_images(std::move(images));
  listed_ = true;
  if (!session_) {
    model_->set_archived({});
    marks_known_ = true;
  } else {
    auto* watcher = new QFutureWatcher<std::vector<bool>>(this);
    connect(watcher, &QFutureWatcher<std::vector<bool>>::finished, this, [this, watcher] {
      model_->set_archived(watcher->result());
      marks_known_ = true;
      update_count();
      watcher->deleteLater();
    });
    AppSession* session = session_;
    marks_ = QtConcurrent::run([session, for_ledger = std::move(for_ledger)] {
      return archived_images(*session, for_ledger);
    });
    watcher->setFuture(marks_);
  }
  update_count();
  Q_EMIT listed();
}

// The ledger's question may still run: it uses the session, which outlives no window's wait.
ImageChooser::~ImageChooser() { marks_.waitForFinished(); }

bool ImageChooser::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
      preview_current();
      return true;
    }
    if (key->key() == Qt::Key_T && key->modifiers() == Qt::NoModifier) {
      toggle_selected();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void ImageChooser::toggle_selected() {
  std::vector<int> rows;
  for (const QModelIndex& i : view_->selectionModel()->selectedIndexes())
    rows.push_back(filter_->mapToSource(i).row());
  if (rows.empty() && view_->currentIndex().isValid())
    rows.push_back(filter_->mapToSource(view_->currentIndex()).row());
  if (rows.empty()) return;
  // Ticks them all unless all are ticked already.
  bool all = true;
  for (int r : rows)
    all = all && model_->data(model_->index(r), Qt::CheckStateRole).toInt() == Qt::Checked;
  model_->set_ticked(rows, !all);
}

QDialog* ImageChooser::preview_current() {
  const QModelIndex current = view_->currentIndex();
  if (!current.isValid()) return nullptr;
  const int row = filter_->mapToSource(current).row();
  const ChoiceImage& image = model_->images()[static_cast<std::size_t>(row)];
  const QString path = QString::fromStdString(image.path);

  auto* window = new QDialog(this);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setAccessibleName(QStringLiteral("Large view"));
  const QString when = model_->captured(row);
  window->setWindowTitle(when.isEmpty() ? QString::fromStdString(image.name)
                                        : QString::fromStdString(image.name) +
                                              QStringLiteral("  ") + when);
  auto* layout = new QVBoxLayout(window);
  auto* picture = new QLabel(tr("Loading..."), window);
  picture->setAccessibleName(QStringLiteral("Picture"));
  picture->setObjectName(QStringLiteral("Picture"));
  picture->setAlignment(Qt::AlignCenter);
  picture->setMinimumSize(480, 360);
  layout->addWidget(picture, 1);
  auto* hint = new QLabel(tr("Space or Esc: back to the images"), window);
  hint->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(hint);
  auto* back = new QShortcut(QKeySequence(Qt::Key_Space), window);
  connect(back, &QShortcut::activated, window, &QDialog::close);

  auto show = [window, picture, path, name = image.name, this](const QPixmap& pixmap) {
    if (pixmap.isNull()) {
      picture->setText(tr("No picture to show for %1").arg(QString::fromStdString(name)));
      return;
    }
    picture->setPixmap(pixmap);
    window->adjustSize();
  };
  const auto cached = large_.find(path);
  if (cached != large_.end()) {
    show(*cached);
  } else {
    auto* watcher = new QFutureWatcher<QImage>(window);
    connect(watcher, &QFutureWatcher<QImage>::finished, window, [this, watcher, path, show] {
      const QPixmap pixmap = QPixmap::fromImage(watcher->result());
      if (!pixmap.isNull()) {
        if (large_.size() >= kLargeCached) large_.clear();
        large_.insert(path, pixmap);
      }
      show(pixmap);
    });
    watcher->setFuture(
        QtConcurrent::run([path] { return ThumbnailLoader::load_large(path, kLargeEdge); }));
  }
  window->show();
  return window;
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
  QString text = tr("%1 of %2 images chosen").arg(chosen).arg(model_->rowCount());
  int archived = 0;
  for (int r = 0; r < model_->rowCount(); ++r) archived += model_->archived(r) ? 1 : 0;
  if (!marks_known_)
    text += tr("  (looking for images already in the archive...)");
  else if (archived > 0)
    text += tr("  (%1 already in the archive)").arg(archived);
  count_->setText(text);
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
