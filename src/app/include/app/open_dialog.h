// TOpenDialog: the window's one file-open dialog. It serves two choices (the destination
// database, the source tables); between them the window changes only the filter index and two
// options, so the folder the user went to and the last name chosen carry over from one use to
// the next.
//
// The dialog is a real QFileDialog, kept for the window's whole life (that is what makes the
// folder carry over). Its settings are written in the terms the window's design uses: a filter
// text of description|pattern pairs, a 1-based filter index and a set of options.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "dataset/classes.h"

namespace app {

enum class TOpenOption : std::uint8_t {
  ofHideReadOnly,      // no read-only check box (the Qt dialog never has one)
  ofAllowMultiSelect,  // several files may be chosen
  ofPathMustExist,     // the chosen file's folder must exist
  ofFileMustExist,     // the chosen files must exist
  ofEnableSizing,      // the dialog can be resized
};
using enum TOpenOption;
using TOpenOptions = ds::TSet<TOpenOption>;

// The QFileDialog underneath: it refuses a name in a folder that does not exist when the
// options ask for that (Qt's own dialog checks only the file).
class TFileDialog : public QFileDialog {
  Q_OBJECT

 public:
  explicit TFileDialog(QWidget* parent);

  void SetPathMustExist(bool value) { FPathMustExist = value; }

 public slots:
  void accept() override;

 private:
  bool FPathMustExist = false;
};

class TOpenDialog {
 public:
  explicit TOpenDialog(QWidget* parent);
  ~TOpenDialog();
  TOpenDialog(const TOpenDialog&) = delete;
  TOpenDialog& operator=(const TOpenDialog&) = delete;

  const QString& Title() const { return FTitle; }
  void SetTitle(const QString& title) { FTitle = title; }
  const QString& DefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const QString& ext) { FDefaultExt = ext; }
  // "Description|*.a;*.b|Description|*.c": pairs of a description and its patterns.
  const QString& Filter() const { return FFilter; }
  void SetFilter(const QString& filter);
  // 1-based; an index past the last filter chooses the first.
  int FilterIndex() const { return FFilterIndex; }
  void SetFilterIndex(int index) { FFilterIndex = index; }
  TOpenOptions Options() const { return FOptions; }
  void SetOptions(TOpenOptions options) { FOptions = options; }

  // The first chosen file (full path), and every chosen file in the order the dialog gave.
  const QString& FileName() const { return FFileName; }
  void SetFileName(const QString& name) { FFileName = name; }
  const QStringList& Files() const { return FFiles; }

  // The name filters the Qt dialog is given for Filter.
  const QStringList& NameFilters() const { return FNameFilters; }

  // Applies the settings, shows the dialog modally and, when the user confirms, takes the
  // chosen files. False when the user cancelled (nothing changes then).
  bool Execute();

  // The Qt dialog itself (tests answer it as a user would).
  TFileDialog& Dialog() { return *FDialog; }

 private:
  void Apply();

  TFileDialog* FDialog;  // owned by the parent window
  QString FTitle;
  QString FDefaultExt;
  QString FFilter;
  QStringList FNameFilters;
  int FFilterIndex = 1;
  TOpenOptions FOptions;
  QString FFileName;
  QStringList FFiles;
};

}  // namespace app
