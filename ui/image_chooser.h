// The image chooser ("Thumbs..."): a grid of the thumbnails of a folder's images, filtered by
// folder, day and type, with tick boxes and Check All / Uncheck All. Each tile shows the file
// name and capture time; a movie its length; an image the ingest ledger knows as archived is
// marked and starts unticked, every other image ticked. Space or a double-click shows the
// image large, T ticks or unticks the selected tiles. It ends with the chosen images (full
// paths, in the folder's order) and whether the user asked to ingest them now, kept them for
// the next Start (Close), or left with Escape, which leaves everything as it was.
// The folder is listed, the ledger asked and the pictures decoded on worker threads; the grid
// only shows.
#pragma once

#include <QAbstractListModel>
#include <QDialog>
#include <QFuture>
#include <QHash>
#include <QPixmap>
#include <QSet>
#include <QSortFilterProxyModel>
#include <string>
#include <vector>

#include "control/image_choice.h"

namespace cw {
class AppSession;
}

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
  // Marks the images the ledger knows as archived; unless the user changed a tick already,
  // every other image is ticked and the archived ones are not.
  void set_archived(const std::vector<bool>& archived);
  bool archived(int row) const;
  // The capture time under a tile ("" until its thumbnail is read).
  QString captured(int row) const { return captured_.value(row); }
  bool user_ticked() const { return user_ticked_; }

  // Roles of the facts drawn on a tile.
  static constexpr int kCapturedRole = Qt::UserRole + 1;
  static constexpr int kArchivedRole = Qt::UserRole + 2;
  static constexpr int kVideoRole = Qt::UserRole + 3;  // a movie's length as text, "" unknown
  static constexpr int kPictureRole = Qt::UserRole + 4;  // the tile shows a real picture

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 Q_SIGNALS:
  void ticks_changed();

 private:
  // The tile of an image without a picture: its type while its preview is read; once read,
  // a movie's dark frame with a play sign, or a still's type over "no preview".
  QPixmap placeholder(const std::string& type, bool video = false, bool read = false) const;

  std::vector<ChoiceImage> images_;
  std::vector<bool> ticked_;
  std::vector<bool> archived_;
  bool user_ticked_ = false;  // the user changed a tick: the defaults no longer apply
  ThumbnailLoader* loader_;
  QHash<int, QPixmap> cache_;
  QSet<int> pictures_;  // rows whose cached pixmap is a picture, not a placeholder
  QHash<int, QString> captured_;
  QHash<int, QString> durations_;  // movies: their length, or "" when unknown
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
  // What ended the chooser besides "Ingest Chosen" (QDialog::Accepted) and Escape
  // (QDialog::Rejected): Close, which keeps the choice for the next Start.
  static constexpr int kKeepChoice = 2;

  // Lists `folder` (with the extension filter given) on a worker thread and shows it; with a
  // session, the ledger marks the images archived already.
  ImageChooser(const std::string& folder, bool include, const std::string& extensions,
               QWidget* parent = nullptr, AppSession* session = nullptr);
  ~ImageChooser() override;

  std::vector<std::string> chosen() const { return model_->chosen(); }
  // True when the user pressed "Ingest Chosen".
  bool ingest_now() const { return result() == QDialog::Accepted; }
  // True when the user left with Escape (or the window's close button): nothing changes.
  bool left_unchanged() const { return result() == QDialog::Rejected; }
  // True once the ledger's marks are shown (at once without a session).
  bool marks_known() const { return marks_known_; }
  // Shows the image of the view's current tile large; the window that shows it, or null.
  QDialog* preview_current();
  // True once the listing is shown and every thumbnail in view has been decoded.
  bool screen_complete() const;
  ImageListModel& model() { return *model_; }

 Q_SIGNALS:
  void listed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void show_listing(std::vector<ChoiceImage> images);
  void toggle_selected();
  void apply_filter();
  void tick_visible(bool ticked);
  void update_count();

  std::string folder_;
  AppSession* session_;
  ImageListModel* model_;
  ChoiceFilterModel* filter_;
  QListView* view_;
  QComboBox *folders_, *days_, *types_;
  QLabel* count_;
  QPushButton* ingest_;
  bool listed_ = false;
  bool marks_known_ = false;
  QHash<QString, QPixmap> large_;  // large views shown in this window, by path
  QFuture<std::vector<bool>> marks_;  // the ledger's marks while they are asked for
};

}  // namespace cw::ui
