// "Multi-Camera Shoot": one folder per camera in the grid (Folder, Start, End, Adjust, Images),
// the selected folders shifted so that the cameras agree (the target date and time for the
// first selected folder, Adjust, Reset), the shifts written into the files' times (Sync Files,
// off the window's thread with progress and Cancel), and all images of all folders ingested
// in one merged time order (Re-Ingest, which hands the list to the main window). Everything
// the window does is a call on the windowless MultiCamera that `cardwright multicam` drives.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "control/multicam.h"
#include "foundation/capture_shift.h"
#include "ui/grid.h"

class QCheckBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimeEdit;

namespace cw {
class AppSession;
}

namespace cw::ui {

class WorkPanel;

class MultiCameraDialog : public QDialog {
  Q_OBJECT

 public:
  explicit MultiCameraDialog(AppSession& session, QWidget* parent = nullptr);

  MultiCamera& shoot() { return shoot_; }
  GridView& grid() { return *grid_; }
  // Shows the shoot's table as it is now.
  void show_table();

 Q_SIGNALS:
  // Re-Ingest: ingest these images, in this order, from `source`, their capture times
  // corrected by `shifts` (what syncs wrote into their file times only); with
  // `write_exif_times` the corrected dates go into the EXIF of the final copies.
  void reingest(const std::vector<std::string>& images, const std::string& source,
                const CaptureShifts& shifts, bool write_exif_times);

 protected:
  void reject() override;

 private:
  void show_selection();
  void adjust();
  void sync();
  void update_controls();

  AppSession& session_;
  MultiCamera shoot_;
  GridModel::Rows rows_;  // the table's texts as shown (the shoot may change during a sync)
  bool pending_ = false;  // adjustments not yet written, as shown
  GridView* grid_;
  QLabel *parent_, *note_;
  QGroupBox* adjustments_;
  QDateEdit* date_;
  QTimeEdit* time_;
  WorkPanel* work_;
  QPushButton *choose_, *clear_, *clear_adjustments_, *sync_, *reingest_, *close_;
  QCheckBox* write_exif_times_;
};

}  // namespace cw::ui
