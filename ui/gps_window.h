// "GPS Input": the GPS settings of the master preset and the track data of this session. Tag
// images or not; the camera's zone (an entry of the list with the summer-time box, or a zone by
// name found by typing part of it, whose summer time the zone database gives) and the
// clock adjustment (the time the camera showed against the true time at one moment); where
// the track comes from: GPX or LOG files, or a Garmin or Magellan receiver on a port, its
// track kept in a file if wanted. Loading runs off the window's thread (a receiver read can
// be cancelled); the summary and the analysis of the loaded tracks are shown.
//
// The Start flow opens it when an ingestion wants GPS data and none is loaded; its closing
// button then reads "Continue". A LOG file whose fixes carry no date (time of day only) makes
// it ask for the date of the track and load again with it. Loading is AppSession::load_gps, what `cardwright ingest
// --gps-track` uses; the settings are the preset keys `cardwright preset set` writes.
#pragma once

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDate;
class QDateEdit;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace cw {
class AppSession;
}

namespace cw::ui {

class WorkPanel;

class GpsWindow : public QDialog {
  Q_OBJECT

 public:
  // `from_start`: opened by the Start flow (the closing button reads "Continue").
  GpsWindow(AppSession& session, bool from_start, QWidget* parent = nullptr);

  // "Load GPS Data...": asks for the track files (or the receiver's save file) and loads.
  void choose_and_load();
  // Loads these files, or reads the receiver (`files` empty), off the window's thread;
  // `track_date` ("ddmmyy") dates LOG files whose fixes carry none.
  void load(const std::vector<std::string>& files, const std::string& save_file,
            const std::string& track_date = {});

 Q_SIGNALS:
  // A load has ended; `ok` when tracks are loaded.
  void load_ended(bool ok);

 protected:
  void reject() override;

 private:
  void put(const char* key, const std::string& value);
  void zone_changed();
  void select_zone(const std::string& stored);
  void zone_typed();
  void show_zone_note();
  void show_clock();
  void show_loaded();
  void update_controls();

  AppSession& session_;
  QCheckBox *want_, *dst_, *save_file_;
  QComboBox* zone_;
  QDateTimeEdit *camera_time_, *true_time_;
  QLabel *adjustment_, *summary_, *zone_note_;
  QButtonGroup* source_;
  QLineEdit* port_;
  QPlainTextEdit* analysis_;
  QPushButton *load_, *discard_, *close_;
  WorkPanel* work_;
};

// The question put when a track file's fixes carry no date: the day the track was recorded,
// from 1969 to 2068 (the years the files' two-digit years stand for).
class TrackDateQuestion : public QDialog {
  Q_OBJECT

 public:
  TrackDateQuestion(const QDate& suggested, QWidget* parent = nullptr);
  // The chosen date as GPX::undated_fix_date ("ddmmyy").
  std::string track_date() const;

 private:
  QDateEdit* date_;
};

}  // namespace cw::ui
