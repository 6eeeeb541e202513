// The image chooser ("Thumbs..."): a grid of the thumbnails of a folder's images, filtered by
// folder, day and type, with tick boxes and Check All / Uncheck All. It ends with the chosen
// images (full paths, in the folder's order) and whether the user asked to ingest them now.
// The folder is listed and the thumbnails decoded on worker threads; the grid only shows.
#pragma once

#include <QAbstractListModel>
#include <QDialog>
#include <QHash>
#include <QPixmap>
#include <QSet>
#include <QSortFilterProxyModel>
#include <string>
#include <vector>

#include "control/image_choice.h"

class QComboBox;
class QLabel;
class QListView;
class QPushButton;

namespace cw::ui {

class ThumbnailLoader;

// The listed images with their tick marks and thumbnails.
class ImageListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit ImageListModel(int edge, QObject* parent = nullptr);
  ~ImageListModel() override;

  void set_images(std::vector<ChoiceImage> images);
  const std::vector<ChoiceImage>& images() const { return images_; }
  std::vector<std::string> chosen() const { return chosen_paths(images_, ticked_); }
  int chosen_count() const;
  // Ticks or clears the given source rows.
  void set_ticked(const std::vector<int>& rows, bool ticked);
  bool has_thumbnail(int row) const { return cache_.contains(row); }

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 Q_SIGNALS:
  void ticks_changed();

 private:
  QPixmap placeholder(const std::string& type) const;

  std::vector<ChoiceImage> images_;
  std::vector<bool> ticked_;
  ThumbnailLoader* loader_;
  QHash<int, QPixmap> cache_;
  mutable QSet<int> requested_;
  mutable QHash<QString, QPixmap> placeholders_;
};

// The filters over the list.
class ChoiceFilterModel : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void set_filter(const ChoiceFilter& filter);

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

 private:
  ChoiceFilter filter_;
};

class ImageChooser : public QDialog {
  Q_OBJECT

 public:
  // Lists `folder` (with the extension filter given) on a worker thread and shows it.
  ImageChooser(const std::string& folder, bool include, const std::string& extensions,
               QWidget* parent = nullptr);

  std::vector<std::string> chosen() const { return model_->chosen(); }
  // True when the user pressed "Ingest Chosen".
  bool ingest_now() const { return result() == QDialog::Accepted; }
  // True once the listing is shown and every thumbnail in view has been decoded.
  bool screen_complete() const;
  ImageListModel& model() { return *model_; }

 Q_SIGNALS:
  void listed();

 private:
  void show_listing(std::vector<ChoiceImage> images);
  void apply_filter();
  void tick_visible(bool ticked);
  void update_count();

  std::string folder_;
  ImageListModel* model_;
  ChoiceFilterModel* filter_;
  QListView* view_;
  QComboBox *folders_, *days_, *types_;
  QLabel* count_;
  QPushButton* ingest_;
  bool listed_ = false;
};

}  // namespace cw::ui
