// The preferences dialog.
#include "ui/preferences_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "control/catalogue_move.h"
#include "control/settings_access.h"
#include "control/settings_preferences.h"

namespace cw::ui {

namespace {

struct Shown {
  const char* key;
  const char* label;
  const char* empty = nullptr;  // what an empty text field means
};

// The switches, then the texts, in the order the dialog shows them.
constexpr Shown kFlags[] = {
    {"UpdateCheckV3", "Check for a newer version at start-up"},
    {"LogV3", "Keep the run log"},
    {"WantIngestionDetails", "Store each ingestion's parameters in the database"},
    {"PresetReminder", "Ask before unsaved preset changes are lost"},
    {"SmallScreen", "Compact main window (Small Screen)"},
};
constexpr Shown kTexts[] = {
    {"UpdateCheckURL", "Update check address", "(none: no update check is made)"},
    {"ExifToolPath", "ExifTool program", "(exiftool, found on PATH)"},
    {"GpsbabelPath", "gpsbabel program", "(gpsbabel, found on PATH)"},
};

QString default_text(const char* key) {
  const PrefKey* k = find_preference(key);
  return k && k->def ? QString::fromUtf8(k->def) : QString();
}

}  // namespace

PreferencesDialog::PreferencesDialog(UserInterface& ui, QWidget* parent)
    : QDialog(parent), ui_(ui) {
  setWindowTitle(tr("Preferences"));
  setAccessibleName(QStringLiteral("Preferences"));
  auto* layout = new QVBoxLayout(this);
  for (const Shown& s : kFlags) {
    const bool on_by_default = default_text(s.key) == QLatin1String("1");
    auto* box = new QCheckBox(
        tr("%1 (default: %2)").arg(tr(s.label), on_by_default ? tr("on") : tr("off")), this);
    box->setAccessibleName(QString::fromUtf8(s.key));
    layout->addWidget(box);
    flags_.push_back(box);
  }
  auto* form = new QFormLayout;
  for (const Shown& s : kTexts) {
    auto* edit = new QLineEdit(this);
    edit->setAccessibleName(QString::fromUtf8(s.key));
    edit->setMinimumWidth(380);
    edit->setPlaceholderText(tr(s.empty));
    form->addRow(tr(s.label) + QLatin1Char(':'), edit);
    texts_.push_back(edit);
  }
  // The catalogue: its password is shown masked and kept unless retyped.
  catalogue_ = new QLineEdit(this);
  catalogue_->setAccessibleName(QStringLiteral("Catalogue"));
  catalogue_->setPlaceholderText(tr("(the embedded file in the user folder)"));
  form->addRow(tr("Catalogue:"), catalogue_);
  auto* catalogue_note = new QLabel(
      tr("A file path or postgresql://user@host:port/dbname. A changed catalogue is used from "
         "the next start of the program."),
      this);
  catalogue_note->setWordWrap(true);
  form->addRow(QString(), catalogue_note);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::RestoreDefaults, this);
  buttons->button(QDialogButtonBox::Ok)->setAccessibleName(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));
  buttons->button(QDialogButtonBox::RestoreDefaults)
      ->setAccessibleName(QStringLiteral("Restore Defaults"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    store();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
          [this] { load(true); });
  load(false);
}

void PreferencesDialog::load(bool defaults) {
  for (std::size_t i = 0; i < flags_.size(); ++i) {
    const char* key = kFlags[i].key;
    flags_[i]->setChecked(defaults ? default_text(key) == QLatin1String("1")
                                   : pref_get_int(key) != 0);
  }
  for (std::size_t i = 0; i < texts_.size(); ++i) {
    const char* key = kTexts[i].key;
    texts_[i]->setText(defaults ? default_text(key) : QString::fromStdString(pref_get_text(key)));
  }
  if (!defaults) loaded_catalogue_ = QString::fromStdString(catalogue_preference_shown());
  catalogue_->setText(defaults ? QString() : loaded_catalogue_);
}

void PreferencesDialog::store() {
  std::vector<std::pair<std::string, bool>> switches;
  for (std::size_t i = 0; i < flags_.size(); ++i)
    switches.emplace_back(kFlags[i].key, flags_[i]->isChecked());
  std::vector<std::pair<std::string, std::string>> texts;
  for (std::size_t i = 0; i < texts_.size(); ++i)
    texts.emplace_back(kTexts[i].key, texts_[i]->text().trimmed().toStdString());
  for (const std::string& why : store_preferences(switches, texts)) ui_.alert(why);
  // A catalogue that cannot be opened was said so and the preference kept.
  const QString catalogue = catalogue_->text().trimmed();
  if (catalogue != loaded_catalogue_) change_catalogue_preference(catalogue.toStdString());
}

}  // namespace cw::ui
