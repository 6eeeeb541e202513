// The preset editor.
#include "ui/preset_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "control/settings_presets.h"
#include "ui/vocabulary_tree.h"

namespace cw::ui {

namespace {

enum class Widget {
  kText,
  kFolder,   // a folder, with a browse button
  kProgram,  // a program file, with a browse button
  kCheck,
  kDigits,     // 4, 5 or 6
  kNumbers,    // where number-range numbers come from
  kPreview,    // the converter's preview option
  kCopyright,  // Copyrighted, Public Domain, Unknown
  kExtensions,
};

struct Field {
  PresetKind kind;
  const char* key;
  const char* label;  // null: the key in words
  Widget widget = Widget::kText;
};

// Every field the editor shows, grouped by tab in this order; the metadata fields of the
// photographer, content and rights presets come from their key lists.
const std::vector<Field>& fields() {
  using K = PresetKind;
  static const std::vector<Field> f = {
      // Source (the master's own settings)
      {K::Master, "CardFolder", "Card folder (\"[user choice]\": ask)", Widget::kFolder},
      {K::Master, "AutoIngest", "Ingest a card as soon as it is inserted", Widget::kCheck},
      {K::Master, "AutoEject", "Eject the card after a successful ingestion", Widget::kCheck},
      {K::Master, "FolderHasSpaces",
       "Quote the folder handed to the viewer (no effect on this system)", Widget::kCheck},
      // Destination
      {K::Destination, "PrimaryFolder", "Primary folder (archive)", Widget::kFolder},
      {K::Destination, "WantBackup", "Make a pre-conversion backup", Widget::kCheck},
      {K::Destination, "BackupFolder", "Pre-conversion backup folder", Widget::kFolder},
      {K::Destination, "WantBackupPost", "Make a post-conversion backup", Widget::kCheck},
      {K::Destination, "BackupFolderPost", "Post-conversion backup folder", Widget::kFolder},
      {K::Destination, "FolderFormat", "Folder arrangement", Widget::kText},
      {K::Destination, "NumberRangeSource", "Numbers", Widget::kNumbers},
      {K::Destination, "NumberRangeDigits", "Digits of automatic numbers", Widget::kDigits},
      {K::Destination, "WantPartition", "Split into number-range folders", Widget::kCheck},
      {K::Destination, "PartitionSize", "Images per number-range folder", Widget::kText},
      {K::Destination, "BurnPrimary", "Offer the primary folders for disc burning", Widget::kCheck},
      {K::Destination, "BurnPre", "Offer the backup folders for disc burning", Widget::kCheck},
      // File handling
      {K::File, "NameFormat", "File names", Widget::kText},
      {K::File, "FilenamePrefix", "Prefix ({@prefix})", Widget::kText},
      {K::File, "ExtensionsMRU", "Extensions", Widget::kExtensions},
      {K::File, "WantJPEGVerify", "Verify JPEG files by decoding them", Widget::kCheck},
      {K::File, "XMPtoJPG", "Write metadata into JPEG files", Widget::kCheck},
      {K::File, "ExtractJPG", "Extract the JPEG preview of raw files", Widget::kCheck},
      {K::File, "KeepRaw", "Run the DNG converter", Widget::kCheck},
      {K::File, "VerifyOnly", "Let the converter only verify raw files", Widget::kCheck},
      {K::File, "ConverterApp", "DNG converter", Widget::kProgram},
      {K::File, "Preview", "DNG preview", Widget::kPreview},
      {K::File, "Embed", "Embed the raw file in the DNG", Widget::kCheck},
      {K::File, "ConvertParams", "Further converter parameters", Widget::kText},
      {K::File, "CRDefaults", "Develop settings", Widget::kText},
      {K::File, "ViewerApp", "Viewer after an ingestion", Widget::kProgram},
      {K::File, "ViewerFolder", "Hand the viewer the folder", Widget::kCheck},
      // Metadata
      {K::Meta, "EnableMeta", "Write XMP sidecars from the metadata presets", Widget::kCheck},
  };
  return f;
}

// "PostalCode" → "Postal code", "ISOCountryCode" → "ISO country code".
QString in_words(const char* key) {
  QString out;
  const QString k = QString::fromUtf8(key);
  for (int i = 0; i < k.size(); ++i) {
    const QChar c = k[i];
    const bool starts_word =
        i > 0 && c.isUpper() && (k[i - 1].isLower() || (i + 1 < k.size() && k[i + 1].isLower()));
    if (starts_word) out += QLatin1Char(' ');
    const bool acronym =
        c.isUpper() && ((i + 1 < k.size() && k[i + 1].isUpper()) ||
                        (i > 0 && k[i - 1].isUpper() && (i + 1 == k.size() || k[i + 1].isUpper())));
    out += (starts_word && !acronym) ? c.toLower() : c;
  }
  return out;
}

bool edits_master(PresetKind kind) {
  return kind == PresetKind::Master || kind == PresetKind::Destination ||
         kind == PresetKind::File || kind == PresetKind::Meta;
}

struct Choice {
  const char* shown;
  const char* stored;
};
const std::vector<Choice>& choices(Widget w) {
  static const std::vector<Choice> digits = {{"4", "4"}, {"5", "5"}, {"6", "6"}};
  static const std::vector<Choice> numbers = {{"From the camera's file names", "1"},
                                              {"Automatic numbers", "2"}};
  static const std::vector<Choice> preview = {{"No JPEG preview", "-p0"},
                                              {"Medium-size JPEG preview", "-p1"},
                                              {"Full-size JPEG preview", "-p2"}};
  static const std::vector<Choice> copyright = {
      {"Copyrighted", "Copyrighted"}, {"Public Domain", "Public Domain"}, {"Unknown", "Unknown"}};
  static const std::vector<Choice> none;
  switch (w) {
    case Widget::kDigits:
      return digits;
    case Widget::kNumbers:
      return numbers;
    case Widget::kPreview:
      return preview;
    case Widget::kCopyright:
      return copyright;
    default:
      return none;
  }
}

// The stored value of a choice field, as the combo box's item data holds it.
QString stored_choice(Widget w, const CWPreset& source, const std::string& key) {
  switch (w) {
    case Widget::kPreview:
      return QString::fromStdString(source.get_str(key).value_or(std::string("-p0")));
    case Widget::kCopyright:
      return QString::fromStdString(
          copyright_status_shown(source.get_str(key).value_or(std::string())));
    case Widget::kNumbers:
      return source.get_int(key) == 2 ? QStringLiteral("2") : QStringLiteral("1");
    default:
      return QString::number(source.get_int(key));
  }
}

}  // namespace

PresetEditor::PresetEditor(CWParam& param, UserInterface& ui, QWidget* parent)
    : QDialog(parent), param_(param), ui_(ui) {
  setWindowTitle(tr("Presets"));
  setAccessibleName(QStringLiteral("Presets"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(preset_row(PresetKind::Master, tr("&Master preset:")));
  tabs_ = new QTabWidget(this);
  tabs_->setAccessibleName(QStringLiteral("Preset groups"));
  layout->addWidget(tabs_, 1);

  // Tabs over the field table: each runs from the first field of its kind to the next kind.
  auto span = [](PresetKind kind) {
    const auto& f = fields();
    int first = -1, end = -1;
    for (int i = 0; i < static_cast<int>(f.size()); ++i)
      if (f[static_cast<std::size_t>(i)].kind == kind) {
        if (first < 0) first = i;
        end = i + 1;
      }
    return std::pair<int, int>(first, end);
  };
  const std::pair<PresetKind, QString> kTabs[] = {
      {PresetKind::Master, tr("Source")},       {PresetKind::Destination, tr("Destination")},
      {PresetKind::File, tr("File Handling")},  {PresetKind::Meta, tr("Metadata")},
      {PresetKind::Photog, tr("Photographer")}, {PresetKind::Content, tr("Content")},
      {PresetKind::Rights, tr("Rights")},
  };
  for (const auto& [kind, title] : kTabs) {
    const auto [first, end] = span(kind);
    tabs_->addTab(group_tab(kind, first, end, kind != PresetKind::Master), title);
  }
  auto* keywords = new QWidget(this);
  auto* kl = new QVBoxLayout(keywords);
  kl->addWidget(preset_row(PresetKind::Keywords, tr("Keywords preset:")));
  vocabulary_ = new VocabularyTree(param_, keywords);
  kl->addWidget(vocabulary_, 1);
  connect(vocabulary_, &VocabularyTree::edited, this, [this] { Q_EMIT presets_changed(); });
  tabs_->addTab(keywords, tr("Keywords"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setAccessibleName(QStringLiteral("Close"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(760, 620);
  reload();
}

void PresetEditor::show_tab(const QString& name) {
  for (int i = 0; i < tabs_->count(); ++i)
    if (tabs_->tabText(i) == name) tabs_->setCurrentIndex(i);
}

QWidget* PresetEditor::preset_row(PresetKind kind, const QString& label) {
  auto* row = new QWidget(this);
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(0, 0, 0, 0);
  const QString kind_label = QString::fromUtf8(param_.preset(kind).label);
  auto* names = new QComboBox(row);
  names->setAccessibleName(kind_label + QStringLiteral(" preset"));
  names->setMinimumWidth(200);
  auto* l = new QLabel(label, row);
  l->setBuddy(names);
  h->addWidget(l);
  h->addWidget(names, 1);
  connect(names, &QComboBox::activated, this,
          [this, kind, names] { command(kind, names->currentText().toStdString()); });
  const std::pair<QString, const char*> kCommands[] = {{tr("New..."), "New..."},
                                                       {tr("Save"), "Save"},
                                                       {tr("Save As..."), "Save As..."},
                                                       {tr("Rename..."), "Rename..."},
                                                       {tr("Delete"), "Delete"}};
  for (const auto& [text, cmd] : kCommands) {
    auto* b = new QPushButton(text, row);
    b->setAutoDefault(false);
    b->setAccessibleName(kind_label + QLatin1Char(' ') + QString::fromUtf8(cmd));
    const std::string c = cmd;
    connect(b, &QPushButton::clicked, this, [this, kind, c] { command(kind, c); });
    h->addWidget(b);
  }
  rows_.push_back({kind, names});
  return row;
}

QWidget* PresetEditor::group_tab(PresetKind kind, int first, int end, bool with_row) {
  auto* page = new QWidget(this);
  auto* v = new QVBoxLayout(page);
  if (with_row)
    v->addWidget(preset_row(kind, QString::fromUtf8(param_.preset(kind).label) + tr(" preset:")));
  auto* scroll = new QScrollArea(page);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* inner = new QWidget(scroll);
  auto* form = new QFormLayout(inner);
  scroll->setWidget(inner);
  v->addWidget(scroll, 1);

  std::vector<Field> shown;
  for (int i = first; i >= 0 && i < end; ++i)
    shown.push_back(fields()[static_cast<std::size_t>(i)]);
  const std::vector<PresetKey>* metadata = kind == PresetKind::Photog    ? &photog_fields()
                                           : kind == PresetKind::Content ? &content_fields()
                                           : kind == PresetKind::Rights  ? &rights_fields()
                                                                         : nullptr;
  if (metadata)
    for (const PresetKey& k : *metadata)
      shown.push_back({kind, k.key, nullptr,
                       std::string(k.key) == "CopyrightStatus" ? Widget::kCopyright : Widget::kText});

  for (const Field& f : shown) {
    const std::string key = f.key;
    const QString label = f.label ? tr(f.label) : in_words(f.key);
    const QString name = QString::fromUtf8(f.key);
    CWPreset& source = edits_master(kind) ? param_.master() : param_.preset(kind);
    auto text_of = [&source, key] {
      return QString::fromStdString(source.get_str(key).value_or(""));
    };
    switch (f.widget) {
      case Widget::kCheck: {
        auto* box = new QCheckBox(label, inner);
        box->setAccessibleName(name);
        // What the switch does (and, for one that does nothing here, why) on hovering.
        if (const PresetKey* k = find_preset_key(key))
          box->setToolTip(QString::fromUtf8(k->meaning));
        form->addRow(box);
        loaders_.push_back([box, &source, key] { box->setChecked(source.get_int(key) != 0); });
        connect(box, &QCheckBox::toggled, this,
                [this, kind, key](bool on) { store(kind, key, on ? "1" : "0"); });
        break;
      }
      case Widget::kDigits:
      case Widget::kNumbers:
      case Widget::kPreview:
      case Widget::kCopyright: {
        auto* combo = new QComboBox(inner);
        combo->setAccessibleName(name);
        for (const Choice& c : choices(f.widget))
          combo->addItem(tr(c.shown), QString::fromUtf8(c.stored));
        form->addRow(label + QLatin1Char(':'), combo);
        const Widget w = f.widget;
        loaders_.push_back([combo, &source, key, w] {
          combo->setCurrentIndex(std::max(0, combo->findData(stored_choice(w, source, key))));
        });
        connect(combo, &QComboBox::activated, this, [this, kind, key, combo] {
          store(kind, key, combo->currentData().toString().toStdString());
        });
        break;
      }
      case Widget::kExtensions: {
        auto* mode = new QComboBox(inner);
        mode->setAccessibleName(QStringLiteral("Extension filter mode"));
        mode->addItem(tr("Exclude"));
        mode->addItem(tr("Include only"));
        auto* list = new QLineEdit(inner);
        list->setAccessibleName(name);
        auto* h = new QHBoxLayout;
        h->addWidget(mode);
        h->addWidget(list, 1);
        form->addRow(label + QLatin1Char(':'), h);
        loaders_.push_back([this, mode, list] {
          bool include = false;
          const std::string exts = param_.master().extensions(include);
          mode->setCurrentIndex(include ? 1 : 0);
          list->setText(QString::fromStdString(exts));
          list->setCursorPosition(0);
        });
        auto commit = [this, mode, list] {
          if (loading_) return;
          edit_extension_filter(param_, mode->currentIndex() == 1, list->text().toStdString());
          reload();
        };
        connect(mode, &QComboBox::activated, this, commit);
        connect(list, &QLineEdit::editingFinished, this, commit);
        break;
      }
      case Widget::kText:
      case Widget::kFolder:
      case Widget::kProgram: {
        auto* edit = new QLineEdit(inner);
        edit->setAccessibleName(name);
        edit->setMinimumWidth(360);
        loaders_.push_back([edit, text_of] {
          edit->setText(text_of());
          edit->setCursorPosition(0);  // a long specification shows its beginning
        });
        connect(edit, &QLineEdit::editingFinished, this,
                [this, kind, key, edit] { store(kind, key, edit->text().toStdString()); });
        if (f.widget == Widget::kText) {
          form->addRow(label + QLatin1Char(':'), edit);
          break;
        }
        auto* browse = new QToolButton(inner);
        browse->setText(tr("..."));
        browse->setAccessibleName(tr("Browse for %1").arg(name));
        const bool folder = f.widget == Widget::kFolder;
        connect(browse, &QToolButton::clicked, this, [this, kind, key, edit, folder, label] {
          const QString picked = folder
                                     ? QFileDialog::getExistingDirectory(this, label, edit->text())
                                     : QFileDialog::getOpenFileName(this, label, edit->text());
          if (picked.isEmpty()) return;
          edit->setText(picked);
          store(kind, key, picked.toStdString());
        });
        auto* h = new QHBoxLayout;
        h->addWidget(edit, 1);
        h->addWidget(browse);
        form->addRow(label + QLatin1Char(':'), h);
        break;
      }
    }
  }
  return page;
}

void PresetEditor::store(PresetKind kind, const std::string& key, const std::string& value) {
  if (loading_) return;
  const bool ok = edit_preset_field(param_, kind, key, value);
  // A refused or undone switch shows the values as they now are.
  if (!ok || key == "KeepRaw" || key == "WantBackup") reload();
  Q_EMIT presets_changed();
}

void PresetEditor::command(PresetKind kind, const std::string& given) {
  preset_row_command(param_, ui_, kind, given);
  reload();
  Q_EMIT presets_changed();
}

void PresetEditor::reload() {
  loading_ = true;
  for (Row& r : rows_) {
    CWPreset& p = param_.preset(r.kind);
    std::vector<std::string> names = p.names();
    if (std::find(names.begin(), names.end(), kDefaultName) == names.end())
      names.insert(names.begin(), kDefaultName);
    if (std::find(names.begin(), names.end(), p.name) == names.end()) names.push_back(p.name);
    const QSignalBlocker quiet(r.names);
    r.names->clear();
    for (const std::string& n : names) r.names->addItem(QString::fromStdString(n));
    r.names->setCurrentText(QString::fromStdString(p.name));
  }
  for (auto& load : loaders_) load();
  if (vocabulary_) vocabulary_->reload();
  loading_ = false;
}

}  // namespace cw::ui
