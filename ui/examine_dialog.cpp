// The examination window.
#include "ui/examine_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <utility>

#include "control/app_session.h"
#include "control/examine_image.h"
#include "control/macro_laboratory.h"
#include "ui/background.h"
#include "ui/work_panel.h"

namespace cw::ui {

ExamineDialog::ExamineDialog(AppSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setWindowTitle(tr("Examine"));
  setAccessibleName(QStringLiteral("Examine"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  file_ = new QLabel(tr("No file examined yet."), this);
  file_->setAccessibleName(QStringLiteral("File"));
  file_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  choose_ = new QPushButton(tr("&Choose File..."), this);
  choose_->setAccessibleName(QStringLiteral("Choose File..."));
  choose_->setAutoDefault(false);
  top->addWidget(file_, 1);
  top->addWidget(choose_);
  layout->addLayout(top);
  report_ = new QPlainTextEdit(this);
  report_->setAccessibleName(QStringLiteral("Report"));
  report_->setReadOnly(true);
  report_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  report_->setTabStopDistance(4 * report_->fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  layout->addWidget(report_, 1);
  work_ = new WorkPanel(this);
  layout->addWidget(work_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setAccessibleName(QStringLiteral("Close"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(choose_, &QPushButton::clicked, this, &ExamineDialog::choose_file);
  connect(work_, &WorkPanel::cancelled, this, [this] {
    ++generation_;  // the report still being built is not shown
    work_->end();
    choose_->setEnabled(true);
    file_->setText(tr("Examination cancelled."));
  });
  resize(820, 700);
}

void ExamineDialog::choose_file() {
  QFileDialog chooser(this, tr("Choose an image file to examine"));
  chooser.setAccessibleName(QStringLiteral("Examine chooser"));
  chooser.setFileMode(QFileDialog::ExistingFile);
  if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty())
    examine(chooser.selectedFiles().front());
}

void ExamineDialog::examine(const QString& path) {
  const int generation = ++generation_;
  file_->setText(path);
  choose_->setEnabled(false);
  work_->begin(tr("Reading %1...").arg(QFileInfo(path).fileName()), true);
  MacroEnvironment* env = &next_ingestion_macros(session_);
  run_in_background(
      this, [env, file = path.toStdString()] { return examine_image(file, *env); },
      [this, generation](const Examination& done) {
        if (generation != generation_) return;
        work_->end();
        choose_->setEnabled(true);
        report_->setPlainText(QString::fromStdString(done.report));
        report_->verticalScrollBar()->setValue(report_->verticalScrollBar()->maximum());
        Q_EMIT examined(done.understood);
      });
}

QString ExamineDialog::report() const { return report_->toPlainText(); }

}  // namespace cw::ui
