// "Database": every table of the ingestion database in the grid: the clients, projects (of a
// chosen client), cards, the ingestion history (the newest 1000, or everything of the last
// months) and the IPTC and user metadata tables. The names and descriptions of clients,
// projects and card records, the ingestion notes and the metadata tables are edited in place;
// rows are added and deleted, an ingestion's stored parameters shown, what is loaded exported
// as CSV, and ingestions older than a year purged. Every operation is the one `cardwright db`
// runs (control/records.h); loading, edits and purging run off the window's thread. Changes
// made elsewhere show when the window is activated and within seconds.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "control/records.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace cw::ui {

class GridView;
class WorkPanel;

// The choice of the history that shows the newest 1000 ingestions (no age filter).
inline constexpr const char* kNewestIngestions = "Newest 1000";

class DatabaseWindow : public QDialog {
  Q_OBJECT

 public:
  explicit DatabaseWindow(AppSession& session, QWidget* parent = nullptr);

  // Shows a table by its title ("Ingestions"); for the ingestions, `age` chooses the rows.
  void show_table(const QString& title, const QString& age = QString());
  const std::optional<LoadedTable>& table() const { return table_; }
  GridView& grid() { return *grid_; }

 Q_SIGNALS:
  // A load has been shown (also when it failed).
  void loaded();
  // An edit of a cell has been stored, or refused and undone.
  void edited(bool stored);

 private:
  void load(const std::string& select_key = {});
  void fill_clients();
  bool store(std::size_t row, std::size_t column, const std::string& text);
  void show_loaded(std::optional<LoadedTable> table, const std::string& select_key);
  const CatalogEntry* entry() const;
  long selected_row() const;
  void update_buttons();
  void add();
  void remove();
  void parameters();
  void export_table();
  void purge();

  AppSession& session_;
  // The session's records; nothing when it has no database (the window then stays empty).
  std::optional<Records> records_;
  std::optional<LoadedTable> table_;
  int generation_ = 0;
  bool storing_ = false;  // an edit is being stored (the next waits for it)
  bool name_added_ = false;  // the load under way shows a record just added
  QComboBox *tables_, *clients_, *ages_;
  QLabel *client_label_, *age_label_, *count_;
  GridView* grid_;
  WorkPanel* work_;
  QPushButton *add_, *delete_, *parameters_, *export_, *purge_;
};

}  // namespace cw::ui
