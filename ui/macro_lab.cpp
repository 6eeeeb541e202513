// The macro laboratory.
#include "ui/macro_lab.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "control/app_session.h"
#include "control/macro_laboratory.h"
#include "foundation/log.h"

namespace cw::ui {

namespace {

QPlainTextEdit* text_box(QWidget* parent, const QString& name, bool read_only) {
  auto* box = new QPlainTextEdit(parent);
  box->setAccessibleName(name);
  box->setReadOnly(read_only);
  box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  return box;
}

// A box with its title above it.
QWidget* titled(QWidget* parent, const QString& title, QWidget* box) {
  auto* w = new QWidget(parent);
  auto* layout = new QVBoxLayout(w);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* label = new QLabel(title, w);
  label->setBuddy(box);
  layout->addWidget(label);
  layout->addWidget(box, 1);
  return w;
}

}  // namespace

MacroLab::MacroLab(AppSession& session, QWidget* parent)
    : QDialog(parent),
      session_(session),
      macros_(next_ingestion_macros(session)),
      inputs_(laboratory_sample_inputs()) {
  setWindowTitle(tr("Macro Lab"));
  setAccessibleName(QStringLiteral("Macro Lab"));
  auto* layout = new QVBoxLayout(this);

  auto* sample_row = new QHBoxLayout;
  sample_ = new QLabel(this);
  sample_->setAccessibleName(QStringLiteral("Sample data"));
  sample_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* image = new QPushButton(tr("&Image..."), this);
  image->setAccessibleName(QStringLiteral("Image..."));
  image->setToolTip(tr("Take the file name, date and EXIF values from a real image"));
  auto* sample = new QPushButton(tr("Sa&mple Data"), this);
  sample->setAccessibleName(QStringLiteral("Sample Data"));
  xml_ = new QCheckBox(tr("&XML (as in sidecars)"), this);
  xml_->setAccessibleName(QStringLiteral("XML"));
  sample_row->addWidget(sample_, 1);
  sample_row->addWidget(xml_);
  sample_row->addWidget(image);
  sample_row->addWidget(sample);
  layout->addLayout(sample_row);

  specification_ = text_box(this, QStringLiteral("Specification"), false);
  specification_->setPlaceholderText(
      tr("Type a specification, for example {@datetimeany,1,8}_{@exif.Model}_{@filename,-4}"));
  result_ = text_box(this, QStringLiteral("Result"), true);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(titled(split, tr("&Specification:"), specification_));
  split->addWidget(titled(split, tr("Result:"), result_));
  layout->addWidget(split, 1);

  warning_ = new QLabel(this);
  warning_->setAccessibleName(QStringLiteral("Warning"));
  warning_->setWordWrap(true);
  warning_->setStyleSheet(QStringLiteral("color: #a04000;"));
  layout->addWidget(warning_);

  auto* buttons = new QHBoxLayout;
  auto* reference = new QPushButton(tr("Insert &Reference"), this);
  reference->setAccessibleName(QStringLiteral("Insert Reference"));
  auto* close = new QPushButton(tr("Close"), this);
  close->setAccessibleName(QStringLiteral("Close"));
  buttons->addWidget(reference);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  for (QPushButton* b : {image, sample, reference, close}) b->setAutoDefault(false);

  connect(specification_, &QPlainTextEdit::textChanged, this, &MacroLab::expand);
  connect(xml_, &QCheckBox::toggled, this, &MacroLab::expand);
  connect(reference, &QPushButton::clicked, this, &MacroLab::insert_reference);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(sample, &QPushButton::clicked, this, [this] { use_image(QString()); });
  connect(image, &QPushButton::clicked, this, [this] {
    QFileDialog chooser(this, tr("Choose an image for the sample data"));
    chooser.setAccessibleName(QStringLiteral("Image chooser"));
    chooser.setFileMode(QFileDialog::ExistingFile);
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty())
      use_image(chooser.selectedFiles().front());
  });

  use_image(QString());
  resize(900, 640);
}

bool MacroLab::use_image(const QString& path) {
  MacroInputs in = laboratory_sample_inputs();
  std::string why;
  if (!path.isEmpty() &&
      !laboratory_image_inputs(path.toStdString(), macros_, in, why)) {
    alert_printf("Can't read %s: %s", path.toUtf8().constData(), why.c_str());
    return false;
  }
  inputs_ = in;
  sample_->setText(
      path.isEmpty()
          ? tr("Sample data: file ABCD0001.NEF in [path], date YYYYMMDD_hhmmss, "
               "sequence 123456, number range 0420-0511")
          : tr("Values of %1 (date %2)")
                .arg(QFileInfo(path).fileName(), QString::fromStdString(inputs_.cur_datetime)));
  sample_->setToolTip(path);
  expand();
  return true;
}

void MacroLab::insert_reference() {
  if (!specification_->toPlainText().isEmpty() &&
      !session_.ui().ask_yes_no("OK to overwrite text?"))
    return;
  const std::string text = laboratory_reference_text();
  specification_->setPlainText(text.empty() ? QStringLiteral("[No macros available.]")
                                            : QString::fromStdString(text));
}

void MacroLab::expand() {
  const std::string text = specification_->toPlainText().toStdString();
  MacroInputs in = inputs_;
  in.xml = xml_->isChecked();
  const LabExpansion expansion = expand_in_laboratory(text, in, macros_);
  if (!expansion.ok) {
    result_->setPlainText(tr("Macro processing failed."));
    return;
  }
  result_->setPlainText(QString::fromStdString(expansion.text));
  warning_->setText(QString::fromStdString(expansion.warning));
  warning_->setVisible(!expansion.warning.empty());
}

}  // namespace cw::ui
