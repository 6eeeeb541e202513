// The database window.
#include "ui/database_window.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

#include "control/app_session.h"
#include "control/settings_access.h"
#include "foundation/log.h"
#include "ui/background.h"
#include "ui/records_watch.h"
#include "ui/grid.h"
#include "ui/work_panel.h"

namespace cw::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QPushButton* named_button(const QString& text, const QString& name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setAccessibleName(name);
  return b;
}

// A read-only text in a window of its own ("Ingestion Parameters").
void show_text(QWidget* parent, const QString& title, const QString& text) {
  QDialog window(parent);
  window.setWindowTitle(title);
  window.setAccessibleName(title);
  auto* layout = new QVBoxLayout(&window);
  auto* view = new QPlainTextEdit(text, &window);
  view->setReadOnly(true);
  view->setAccessibleName(QStringLiteral("Text"));
  view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(view);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &window);
  buttons->button(QDialogButtonBox::Close)->setAccessibleName(QStringLiteral("Close"));
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  layout->addWidget(buttons);
  window.resize(640, 520);
  window.exec();
}

}  // namespace

DatabaseWindow::DatabaseWindow(AppSession& session, QWidget* parent)
    : QDialog(parent), session_(session), records_(Records::of(session)) {
  setWindowTitle(tr("Database"));
  setAccessibleName(QStringLiteral("Database"));
  auto* layout = new QVBoxLayout(this);

  auto* choices = new QHBoxLayout;
  tables_ = new QComboBox(this);
  tables_->setAccessibleName(QStringLiteral("Table"));
  for (const CatalogEntry& e : table_catalog()) tables_->addItem(QString::fromUtf8(e.title));
  clients_ = new QComboBox(this);
  clients_->setAccessibleName(QStringLiteral("Client"));
  clients_->setMinimumContentsLength(16);
  ages_ = new QComboBox(this);
  ages_->setAccessibleName(QStringLiteral("Show"));
  ages_->addItem(tr(kNewestIngestions), QString());
  for (const char* age : kAgeChoices) ages_->addItem(tr(age), QString::fromUtf8(age));
  auto* table_label = new QLabel(tr("&Table:"), this);
  table_label->setBuddy(tables_);
  client_label_ = new QLabel(tr("&Client:"), this);
  client_label_->setBuddy(clients_);
  age_label_ = new QLabel(tr("&Show:"), this);
  age_label_->setBuddy(ages_);
  choices->addWidget(table_label);
  choices->addWidget(tables_);
  choices->addSpacing(16);
  choices->addWidget(client_label_);
  choices->addWidget(clients_);
  choices->addWidget(age_label_);
  choices->addWidget(ages_);
  choices->addStretch(1);
  count_ = new QLabel(this);
  count_->setAccessibleName(QStringLiteral("Records shown"));
  choices->addWidget(count_);
  layout->addLayout(choices);

  grid_ = new GridView(this);
  grid_->setAccessibleName(QStringLiteral("Records"));
  GridModel& model = grid_->grid();
  model.editable = [this](int column) {
    return table_ && table_->entry && !storing_ &&
           Records::editable(*table_->entry, static_cast<std::size_t>(column));
  };
  model.store = [this](int row, int column, const std::string& text) {
    return store(static_cast<std::size_t>(row), static_cast<std::size_t>(column), text);
  };
  layout->addWidget(grid_, 1);

  work_ = new WorkPanel(this);
  layout->addWidget(work_);

  auto* buttons = new QHBoxLayout;
  add_ = named_button(tr("&Add"), QStringLiteral("Add"), this);
  delete_ = named_button(tr("&Delete"), QStringLiteral("Delete"), this);
  parameters_ = named_button(tr("&Parameters..."), QStringLiteral("Parameters..."), this);
  export_ = named_button(tr("&Export..."), QStringLiteral("Export..."), this);
  purge_ = named_button(tr("P&urge..."), QStringLiteral("Purge..."), this);
  purge_->setToolTip(tr("Delete ingestion records older than 1 year"));
  QPushButton* close = named_button(tr("Close"), QStringLiteral("Close"), this);
  for (QPushButton* b : {add_, delete_, parameters_, export_, purge_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  fill_clients();
  connect(tables_, &QComboBox::currentIndexChanged, this, [this] { load(); });
  connect(ages_, &QComboBox::currentIndexChanged, this, [this] { load(); });
  connect(clients_, &QComboBox::currentIndexChanged, this, [this] { load(); });
  connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &DatabaseWindow::update_buttons);
  connect(add_, &QPushButton::clicked, this, &DatabaseWindow::add);
  connect(delete_, &QPushButton::clicked, this, &DatabaseWindow::remove);
  connect(parameters_, &QPushButton::clicked, this, &DatabaseWindow::parameters);
  // A double click on an ingestion shows its parameters, except on the notes, which it edits.
  connect(grid_, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
    if (entry() && entry()->kind == CatalogKind::Ingestion &&
        !(grid_->grid().flags(index) & Qt::ItemIsEditable))
      parameters();
  });
  connect(export_, &QPushButton::clicked, this, &DatabaseWindow::export_table);
  connect(purge_, &QPushButton::clicked, this, &DatabaseWindow::purge);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);

  resize(1280, 680);
  tables_->setCurrentText(QStringLiteral("Ingestions"));
  // Changes made elsewhere (the command line, another copy of the program) are shown when
  // the window is activated and within seconds; never under an edit or a load.
  new RecordsWatch(session, this, [this] {
    if (storing_ || work_->running() || grid_->editing())
      return false;
    fill_clients();
    const long row = selected_row();
    load(table_ && row >= 0 ? table_->cell(static_cast<std::size_t>(row), 0) : std::string());
    return true;
  });
}

void DatabaseWindow::fill_clients() {
  if (!records_) return;
  const QSignalBlocker quiet(clients_);
  const QString shown = clients_->currentText();
  clients_->clear();
  for (const std::string& name : records_->client_names()) clients_->addItem(q(name));
  if (clients_->findText(shown) >= 0) clients_->setCurrentText(shown);
}

// An edit is shown at once and stored on a worker. One that is refused (an empty name, a name
// the list already has, a database error: the records say which) puts the old text back.
bool DatabaseWindow::store(std::size_t row, std::size_t column, const std::string& text) {
  if (!records_ || !table_ || !table_->entry || row >= table_->result.rows.size() ||
      column >= table_->result.rows[row].size())
    return false;
  const std::vector<std::string> before = table_->result.rows[row];
  table_->result.rows[row][column] = text;
  storing_ = true;
  run_in_background(
      this,
      [records = *records_, entry = table_->entry, before, column, text]() mutable {
        return records.edit_row(*entry, before, column, text);
      },
      [this, entry = table_->entry, generation = generation_, row, column, old = before[column],
       text](bool stored) {
        storing_ = false;
        // A renamed client, project or card record stays the main window's choice when it was.
        if (stored && column == 0 && entry->kind != CatalogKind::Free &&
            entry->kind != CatalogKind::Ingestion &&
            last_db_choice(session_.settings(), entry->table) == old)
          remember_db_choice(session_.settings(), entry->table, text);
        if (!stored && generation == generation_ && table_ && row < table_->result.rows.size()) {
          table_->result.rows[row][column] = old;
          grid_->viewport()->update();
        }
        Q_EMIT edited(stored);
      });
  return true;
}

const CatalogEntry* DatabaseWindow::entry() const {
  return catalog_find(tables_->currentText().toStdString());
}

void DatabaseWindow::show_table(const QString& title, const QString& age) {
  const QSignalBlocker quiet(ages_);
  const int a = age.isEmpty() ? 0 : ages_->findData(age);
  if (a >= 0) ages_->setCurrentIndex(a);
  if (tables_->currentText() == title)
    load();
  else
    tables_->setCurrentText(title);
}

void DatabaseWindow::load(const std::string& select_key) {
  const CatalogEntry* e = entry();
  const bool projects = e && e->kind == CatalogKind::Project;
  const bool ingestions = e && e->kind == CatalogKind::Ingestion;
  client_label_->setVisible(projects);
  clients_->setVisible(projects);
  age_label_->setVisible(ingestions);
  ages_->setVisible(ingestions);
  if (!e || !records_) return;
  BrowseChoice choice;
  choice.client = clients_->currentText().toStdString();
  if (ingestions) choice.age = ages_->currentData().toString().toStdString();
  const int generation = ++generation_;
  count_->setText(tr("Loading..."));
  work_->begin(tr("Loading %1...").arg(QString::fromUtf8(e->title)), false);
  update_buttons();
  // The query runs on a worker; a load chosen meanwhile makes this one's result stale.
  run_in_background(
      this, [records = *records_, e, choice]() mutable { return records.browse(*e, choice); },
      [this, generation, select_key](std::optional<LoadedTable> loaded) {
        if (generation != generation_) return;
        show_loaded(std::move(loaded), select_key);
      });
}

void DatabaseWindow::show_loaded(std::optional<LoadedTable> table, const std::string& select_key) {
  work_->end();
  table_ = std::move(table);
  std::vector<GridColumn> columns;
  if (const CatalogEntry* e = table_ ? table_->entry : entry())
    for (const CatalogColumn& c : e->columns)
      columns.push_back({QString::fromUtf8(c.title), c.width});
  grid_->show_rows(std::move(columns), table_ ? &table_->result.rows : nullptr);
  count_->setText(table_ ? tr("%1 records shown").arg(table_->result.row_count())
                         : tr("Database Error"));
  if (table_ && !select_key.empty())
    grid_->select_row(static_cast<int>(find_row(*table_, select_key)));
  // A client, project or card record just added has a made-up name: its name is open for
  // typing at once.
  if (std::exchange(name_added_, false) && table_ && !grid_->selected_rows().empty())
    grid_->edit(grid_->model()->index(grid_->grid().view_row(grid_->selected_rows().front()), 0));
  update_buttons();
  Q_EMIT loaded();
}

long DatabaseWindow::selected_row() const {
  const std::vector<int> rows = grid_->selected_rows();
  return rows.empty() ? -1 : rows.front();
}

void DatabaseWindow::update_buttons() {
  const CatalogEntry* e = entry();
  const bool idle = !work_->running();
  const bool shown = idle && table_.has_value();
  const bool ingestions = e && e->kind == CatalogKind::Ingestion;
  const bool selected = shown && selected_row() >= 0;
  add_->setEnabled(idle && e && !ingestions);
  delete_->setEnabled(selected);
  parameters_->setVisible(ingestions);
  parameters_->setEnabled(selected);
  export_->setEnabled(shown);
  purge_->setVisible(ingestions);
  purge_->setEnabled(idle);
  tables_->setEnabled(idle);
}

void DatabaseWindow::add() {
  const CatalogEntry* e = entry();
  if (!records_ || !e) return;
  if (std::optional<std::string> key =
          records_->add_row(*e, clients_->currentText().toStdString())) {
    name_added_ = e->kind != CatalogKind::Free;
    load(*key);
  }
}

void DatabaseWindow::remove() {
  if (!records_ || !table_) return;
  if (records_->delete_row(*table_, selected_row())) load();
}

void DatabaseWindow::parameters() {
  if (!records_ || !table_) return;
  if (std::optional<std::string> text = records_->parameters(*table_, selected_row()))
    show_text(this, tr("Ingestion Parameters"), q(*text));
}

void DatabaseWindow::export_table() {
  if (!table_) return;
  QFileDialog chooser(this, tr("Export %1").arg(QString::fromUtf8(table_->entry->title)));
  chooser.setAccessibleName(QStringLiteral("Export chooser"));
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setNameFilter(tr("CSV File (*.csv)"));
  chooser.setDefaultSuffix(QStringLiteral("csv"));
  chooser.selectFile(QString::fromUtf8(table_->entry->title) + QStringLiteral(".csv"));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  if (records_) records_->export_csv(*table_, chooser.selectedFiles().front().toStdString());
}

void DatabaseWindow::purge() {
  if (!records_) return;
  // The question is asked on this thread for the worker (the session's user interface carries
  // it over); the delete is one statement, so it has nothing to cancel.
  work_->begin(tr("Purging ingestion records older than 1 year..."), false);
  update_buttons();
  run_in_background(
      this, [records = *records_]() mutable { return records.purge(); },
      [this](PurgeOutcome outcome) {
        work_->end();
        if (outcome == PurgeOutcome::Declined) {
          update_buttons();
          return;
        }
        load();
      });
}

}  // namespace cw::ui
