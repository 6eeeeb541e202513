// The main window's client, project and card-record selections. Each takes a name typed as
// well as one chosen from its list: an existing name typed (in any case) selects that record,
// a new one is added on Start once the user has agreed (the Start flow asks). The projects offered are
// those of the client shown. The lists follow the database: after a run, after the database
// window, and when another process changes it (records_watch.h); a name being typed stays.
#pragma once

#include <QObject>
#include <string>
#include <vector>

class QComboBox;
class QWidget;

namespace cw {
class AppSession;
struct StartRequest;
}  // namespace cw

namespace cw::ui {

class RecordChoices : public QObject {
  Q_OBJECT

 public:
  // Makes the three selections editable and fills them; `window` is the main window (its
  // activation shows changes made elsewhere).
  RecordChoices(AppSession& session, QComboBox* client, QComboBox* project, QComboBox* card,
                QWidget* window);

  // Fills the lists again and selects the choices of the last ingestion.
  void reload();
  // Fills the lists again and keeps what the selections show (a change made elsewhere).
  void refresh();
  // The names shown, for a Start: each trimmed, none when empty, and no project without a
  // client. New names are confirmed before they are added.
  void put_into(StartRequest& request) const;

 private:
  void fill_all(bool keep_text);
  void fill(QComboBox* combo, const std::vector<std::string>& names, const char* table,
            bool keep_text);
  void fill_projects(bool keep_text);

  AppSession& session_;
  QComboBox *client_, *project_, *card_;
};

}  // namespace cw::ui
