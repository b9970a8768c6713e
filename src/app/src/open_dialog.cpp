#include "app/open_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>

namespace app {

TFileDialog::TFileDialog(QWidget* parent) : QFileDialog(parent) {}

void TFileDialog::accept() {
  if (FPathMustExist) {
    for (const QString& file : selectedFiles()) {
      const QFileInfo info(file);
      if (info.isDir()) break;  // Qt's dialog goes into a folder that was typed
      if (!info.absoluteDir().exists()) {
        QMessageBox::warning(this, windowTitle(),
                             tr("%1\nPath does not exist.\nPlease verify the correct path was "
                                "given.")
                                 .arg(QDir::toNativeSeparators(info.absolutePath())));
        return;
      }
    }
  }
  QFileDialog::accept();
}

TOpenDialog::TOpenDialog(QWidget* parent) : FDialog(new TFileDialog(parent)) {
  FDialog->setObjectName(QStringLiteral("OpenDlg"));
  FDialog->setAcceptMode(QFileDialog::AcceptOpen);
}

TOpenDialog::~TOpenDialog() = default;

void TOpenDialog::SetFilter(const QString& filter) {
  FFilter = filter;
  FNameFilters.clear();
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    FNameFilters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
  }
}

void TOpenDialog::Apply() {
  TFileDialog& d = *FDialog;
  d.setWindowTitle(FTitle);
  d.setDefaultSuffix(FDefaultExt);
  d.setNameFilters(FNameFilters);
  if (!FNameFilters.isEmpty()) {
    const int index = FFilterIndex >= 1 && FFilterIndex <= FNameFilters.size() ? FFilterIndex : 1;
    d.selectNameFilter(FNameFilters[index - 1]);
  }
  // Qt joins "several files" and "the files must exist" in one mode; a choice of several files
  // that need not exist has no mode of its own, and the window never asks for it.
  if (FOptions.Contains(ofAllowMultiSelect))
    d.setFileMode(QFileDialog::ExistingFiles);
  else if (FOptions.Contains(ofFileMustExist))
    d.setFileMode(QFileDialog::ExistingFile);
  else
    d.setFileMode(QFileDialog::AnyFile);
  d.SetPathMustExist(FOptions.Contains(ofPathMustExist));
  d.setSizeGripEnabled(FOptions.Contains(ofEnableSizing));
  // The last name chosen is offered again; the folder stays where the user left it.
  if (!FFileName.isEmpty()) d.selectFile(FFileName);
}

bool TOpenDialog::Execute() {
  Apply();
  if (FDialog->exec() != QDialog::Accepted) return false;
  const QStringList files = FDialog->selectedFiles();
  if (files.isEmpty()) return false;
  FFiles = files;
  FFileName = files.first();
  return true;
}

}  // namespace app
