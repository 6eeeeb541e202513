// The first-run assistant's pages.
#include "ui/first_run_assistant.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDate>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <filesystem>
#include <tuple>

#include "control/app_session.h"
#include "control/image_choice.h"
#include "control/naming_preview.h"
#include "control/settings_presets.h"

namespace cw::ui {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Name formats offered besides the one in effect: the built-in one, the capture time with the
// camera's number, and the camera's own name.
constexpr const char* kNameFormats[] = {
    "{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4}",
    "{@datetimeany}_{@filename,-4}",
    "{@filename}",
};

QLabel* explanation(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setWordWrap(true);
  return l;
}

// The folders page: complete once an archive folder is given.
class FoldersPage : public QWizardPage {
 public:
  using QWizardPage::QWizardPage;
  QLineEdit* archive = nullptr;
  bool isComplete() const override { return archive && !archive->text().trimmed().isEmpty(); }
};

std::optional<std::string> text_of(const QLineEdit* edit) {
  const QString t = edit->text().trimmed();
  if (t.isEmpty()) return std::nullopt;
  return t.toStdString();
}

}  // namespace

FirstRunAssistant::FirstRunAssistant(AppSession& session, const std::string& card,
                                     QWidget* parent)
    : QWizard(parent), session_(session) {
  setWindowTitle(tr("Welcome to Cardwright"));
  setAccessibleName(QStringLiteral("First-run assistant"));
  setOption(QWizard::NoBackButtonOnStartPage);
  addPage(folders_page());
  addPage(names_page());
  addPage(people_page());
  const std::pair<QWizard::WizardButton, const char*> names[] = {
      {QWizard::BackButton, "Back"},
      {QWizard::NextButton, "Next"},
      {QWizard::FinishButton, "Finish"},
      {QWizard::CancelButton, "Cancel"}};
  for (const auto& [which, name] : names) button(which)->setAccessibleName(QString::fromLatin1(name));
  setMinimumSize(640, 460);

  const ArchiveSetup now = current_archive_setup(session_.settings());
  archive_->setText(q(now.archive));
  backup_->setText(q(now.backup.value_or("")));
  creator_->setText(q(now.creator.value_or("")));
  copyright_->setText(q(now.copyright.value_or("")));
  const QString format = q(now.name_format.value_or(kNameFormats[0]));
  if (name_format_->findText(format) < 0) name_format_->insertItem(0, format);
  name_format_->setCurrentText(format);

  // The card is listed on a worker: a full card takes a moment to walk.
  if (card.empty()) {
    QTimer::singleShot(0, this, [this] {
      update_example();
      Q_EMIT example_ready();
    });
    return;
  }
  bool include = false;
  const std::string extensions = session_.settings().master().extensions(include);
  auto* watcher = new QFutureWatcher<std::optional<std::string>>(this);
  connect(watcher, &QFutureWatcher<std::optional<std::string>>::finished, this, [this, watcher] {
    example_image_ = watcher->result();
    watcher->deleteLater();
    update_example();
    Q_EMIT example_ready();
  });
  watcher->setFuture(QtConcurrent::run([card, include, extensions]() -> std::optional<std::string> {
    const std::vector<ChoiceImage> images = list_choice_images(card, include, extensions);
    if (images.empty()) return std::nullopt;
    return images.front().path;
  }));
}

QWizardPage* FirstRunAssistant::folders_page() {
  auto* page = new FoldersPage(this);
  page->setTitle(tr("Where your photos go"));
  page->setSubTitle(tr("Every card is copied into the archive, checked, and recorded."));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(explanation(
      tr("The archive folder is the root of your photo library: each ingestion puts its images "
         "in dated folders below it. The backup folder receives a first copy of every image "
         "before the archive does; keep it on another disk. Leave it empty to copy without a "
         "backup."),
      page));
  auto* form = new QFormLayout;
  auto folder_row = [&](QLineEdit*& edit, const char* name, const char* title) {
    edit = new QLineEdit(page);
    edit->setAccessibleName(QString::fromLatin1(name));
    auto* browse_button = new QPushButton(tr("Browse..."), page);
    browse_button->setAccessibleName(QString::fromLatin1(name) + QStringLiteral(" browse"));
    QLineEdit* target = edit;
    connect(browse_button, &QPushButton::clicked, this,
            [this, target, title] { browse(target, title); });
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse_button);
    return row;
  };
  for (auto [edit, label, name, title] :
       {std::tuple{&archive_, tr("&Archive folder:"), "Archive folder", "Choose the archive folder"},
        std::tuple{&backup_, tr("&Backup folder:"), "Backup folder", "Choose the backup folder"}}) {
    QHBoxLayout* row = folder_row(*edit, name, title);
    auto* l = new QLabel(label, page);
    l->setBuddy(*edit);
    form->addRow(l, row);
  }
  backup_->setPlaceholderText(tr("optional, on another disk"));
  layout->addLayout(form);
  layout->addStretch(1);
  page->archive = archive_;
  connect(archive_, &QLineEdit::textChanged, page, [page] { Q_EMIT page->completeChanged(); });
  return page;
}

QWizardPage* FirstRunAssistant::names_page() {
  auto* page = new QWizardPage(this);
  page->setTitle(tr("Names of the copies"));
  page->setSubTitle(tr("Choose how the copies in the archive are named."));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(explanation(
      tr("A name format is a text with macros such as {@datetimeany} (the capture time) and "
         "{@filename} (the camera's name for the file); Tools > Macro Lab lists them all. The "
         "example below changes as you type."),
      page));
  name_format_ = new QComboBox(page);
  name_format_->setEditable(true);
  name_format_->setAccessibleName(QStringLiteral("Name format"));
  name_format_->setInsertPolicy(QComboBox::NoInsert);
  for (const char* f : kNameFormats) name_format_->addItem(QString::fromLatin1(f));
  auto* form = new QFormLayout;
  form->addRow(tr("&Name format:"), name_format_);
  example_ = new QLabel(page);
  example_->setAccessibleName(QStringLiteral("Name example"));
  example_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont bold = example_->font();
  bold.setBold(true);
  example_->setFont(bold);
  example_->setWordWrap(true);
  form->addRow(tr("Example:"), example_);
  example_source_ = new QLabel(page);
  example_source_->setAccessibleName(QStringLiteral("Name example source"));
  example_source_->setWordWrap(true);
  form->addRow(QString(), example_source_);
  layout->addLayout(form);
  layout->addStretch(1);
  connect(name_format_, &QComboBox::currentTextChanged, this, &FirstRunAssistant::update_example);
  return page;
}

QWizardPage* FirstRunAssistant::people_page() {
  auto* page = new QWizardPage(this);
  page->setTitle(tr("Creator and copyright"));
  page->setSubTitle(tr("Written into the sidecar of every image."));
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(explanation(
      tr("Your name and copyright notice go into every image's metadata, so that they travel "
         "with the photos. Both can be left empty and changed later under Tools > Presets."),
      page));
  auto* form = new QFormLayout;
  creator_ = new QLineEdit(page);
  creator_->setAccessibleName(QStringLiteral("Creator"));
  copyright_ = new QLineEdit(page);
  copyright_->setAccessibleName(QStringLiteral("Copyright"));
  form->addRow(tr("&Creator:"), creator_);
  form->addRow(tr("C&opyright:"), copyright_);
  layout->addLayout(form);
  layout->addStretch(1);
  // The usual form of a notice, offered for the name typed.
  connect(creator_, &QLineEdit::textChanged, this, [this](const QString& name) {
    copyright_->setPlaceholderText(
        name.trimmed().isEmpty()
            ? QString()
            : QStringLiteral("\u00a9 %1 %2").arg(QDate::currentDate().year()).arg(name.trimmed()));
  });
  return page;
}

void FirstRunAssistant::browse(QLineEdit* edit, const char* title) {
  if (std::optional<std::string> folder =
          session_.ui().choose_folder(title, edit->text().toStdString()))
    edit->setText(q(*folder));
}

void FirstRunAssistant::update_example() {
  const std::string format = name_format_->currentText().toStdString();
  const std::string name = name_format_example(session_, format, example_image_);
  example_->setText(name.empty() ? tr("(the format gives no name)") : q(name));
  QString source = example_image_
                       ? tr("for %1 on the card in the reader")
                             .arg(q(std::filesystem::path(*example_image_).filename().string()))
                       : tr("for a sample camera file, IMG_0042.JPG taken on 1 June 2024 at 14:30");
  if (std::optional<std::string> note = unknown_macro_note(session_, "NameFormat", format))
    source += QStringLiteral("\n") + q(*note);
  example_source_->setText(source);
}

ArchiveSetup FirstRunAssistant::setup() const {
  ArchiveSetup s;
  s.archive = archive_->text().trimmed().toStdString();
  s.backup = text_of(backup_);
  const QString format = name_format_->currentText().trimmed();
  if (!format.isEmpty()) s.name_format = format.toStdString();
  s.creator = text_of(creator_);
  s.copyright = text_of(copyright_);
  return s;
}

void FirstRunAssistant::accept() {
  const ArchiveSetup s = setup();
  // A missing backup folder is created only when the user says so, as on the command line.
  std::error_code ec;
  if (s.backup && !std::filesystem::is_directory(*s.backup, ec) &&
      session_.ui().ask_yes_no("\"" + *s.backup + "\" does not exist. Create it now?"))
    std::filesystem::create_directories(*s.backup, ec);
  std::string why;
  if (!save_archive_setup(session_.settings(), s, why)) {
    session_.ui().alert("The set-up could not be saved: " + why);
    return;
  }
  QWizard::accept();
}

bool run_first_run_assistant(AppSession& session, const std::string& card, QWidget* parent) {
  FirstRunAssistant assistant(session, card, parent);
  return assistant.exec() == QDialog::Accepted;
}

}  // namespace cw::ui
