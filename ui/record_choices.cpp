// The main window's record selections (see record_choices.h).
#include "ui/record_choices.h"

#include <QComboBox>
#include <QCompleter>
#include <QSignalBlocker>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "control/app_session.h"
#include "control/settings_access.h"
#include "control/start_flow.h"
#include "ui/records_watch.h"

namespace cw::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Fills a selection with `names`; it then shows `text` (typed or chosen), else nothing.
void show_names(QComboBox* combo, const std::vector<std::string>& names, const QString& text) {
  const QSignalBlocker quiet(combo);
  combo->clear();
  for (const std::string& name : names) combo->addItem(q(name));
  const int at = combo->findText(text);
  combo->setCurrentIndex(at);
  if (at < 0) combo->setEditText(text);
}

// `wanted` when the list holds it, else the list's first name (nothing for an empty list).
QString listed(const std::vector<std::string>& names, const std::string& wanted) {
  if (std::find(names.begin(), names.end(), wanted) != names.end()) return q(wanted);
  return names.empty() ? QString() : q(names.front());
}

// The name a selection shows, trimmed. A name typed that the list holds only in another case
// is the listed record, so that "smith" does not become a second client beside "Smith".
std::optional<std::string> shown_name(const QComboBox* combo) {
  const QString name = combo->currentText().trimmed();
  if (name.isEmpty()) return std::nullopt;
  int listed = combo->findText(name);
  if (listed < 0) listed = combo->findText(name, Qt::MatchFixedString);
  return (listed >= 0 ? combo->itemText(listed) : name).toStdString();
}

}  // namespace

RecordChoices::RecordChoices(AppSession& session, QComboBox* client, QComboBox* project,
                             QComboBox* card, QWidget* window)
    : QObject(window), session_(session), client_(client), project_(project), card_(card) {
  for (QComboBox* c : {client_, project_, card_}) {
    c->setEditable(true);
    // A name typed is not a record until Start has added it.
    c->setInsertPolicy(QComboBox::NoInsert);
    c->completer()->setCaseSensitivity(Qt::CaseInsensitive);
  }
  reload();
  // A record chosen from a list is the next ingestion's even before Start.
  auto remember = [this](QComboBox* combo, const char* table) {
    connect(combo, &QComboBox::activated, this, [this, combo, table] {
      remember_db_choice(session_.settings(), table, combo->currentText().toStdString());
    });
  };
  remember(client_, "client");
  remember(project_, "project");
  remember(card_, "card");
  connect(client_, &QComboBox::currentTextChanged, this, [this] { fill_projects(true); });
  new RecordsWatch(session_, window, [this] {
    refresh();
    return true;
  });
}

void RecordChoices::reload() { fill_all(false); }

void RecordChoices::refresh() { fill_all(true); }

void RecordChoices::fill_all(bool keep_text) {
  fill(client_, client_names(session_), "client", keep_text);
  fill(card_, card_record_names(session_), "card", keep_text);
  fill_projects(keep_text);
}

// What a selection shows after a fill with `names`: with `keep_text`, a name being typed or a
// record still listed stays; otherwise the last ingestion's record when listed (a project
// only when it belongs to the client shown), else the first.
void RecordChoices::fill(QComboBox* combo, const std::vector<std::string>& names,
                         const char* table, bool keep_text) {
  const QString shown = combo->currentText();
  const bool typed = !shown.isEmpty() && combo->findText(shown) < 0;
  const bool listed_still =
      std::find(names.begin(), names.end(), shown.toStdString()) != names.end();
  const QString text =
      keep_text && (typed || listed_still)
          ? shown
          : listed(names, last_db_choice(session_.settings(), table).value_or(""));
  show_names(combo, names, text);
}

void RecordChoices::fill_projects(bool keep_text) {
  fill(project_, project_names(session_, shown_name(client_).value_or("")), "project", keep_text);
}

void RecordChoices::put_into(StartRequest& request) const {
  request.client = shown_name(client_);
  request.project = request.client ? shown_name(project_) : std::nullopt;
  request.card_name = shown_name(card_);
  request.confirm_new_names = true;
}

}  // namespace cw::ui
