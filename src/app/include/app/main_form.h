// TMainForm: the program's one window. The user names the destination Access database (typed,
// or chosen with Button1), presses Button2, picks source tables, and the copy run copies them.
// While a copy runs, Button2 becomes the interrupt button and Esc presses it.
//
// The window owns every component the copy works with (the source table, the destination
// database and table, the file dialog, the gauge) and shows the run through copy::CopyView;
// the run itself lives in the copy layer, shared with the command line.
//
// Everything happens on the one user-interface thread. The run keeps the thread until it ends
// and lets the window react only when it processes pending events (at its start and every ten
// records); Button2Click then runs nested inside the run, and the enabled state of Button2 is
// the interrupt request the run polls.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "app/open_dialog.h"
#include "copy/copy_run.h"
#include "dataset/classes.h"
#include "ui/metrics.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace bde {
class TTable;
}
namespace daodb {
class TMxDaoDatabase;
}
namespace daotable {
class TMxDaoTable;
}
namespace ui {
class Tgradgauge;
}

namespace app {

// The window's design size and font, at 96 pixels per inch.
inline constexpr int kDesignClientWidth = 291;
inline constexpr int kDesignClientHeight = 97;

class TMainForm : public QWidget, public copy::CopyView {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // Controls, in tab order, then the others.
  QLineEdit* Edit1;      // the destination database's path
  QPushButton* Button1;  // browse for the destination
  QPushButton* Button2;  // start a copy; while copying, interrupt it
  QLabel* Label1;
  ui::Tgradgauge* Msg;  // per-table progress, aligned to the bottom edge

  // Non-visual components.
  bde::TTable* SourceTable;
  daodb::TMxDaoDatabase* DestDatabase;
  daotable::TMxDaoTable* DestTable;
  TOpenDialog OpenDlg;

  void FormCreate();
  void Edit1Change();
  void Button1Click();
  void Button2Click();
  // The copy run over the files chosen in OpenDlg into the database named in Edit1.
  void CopyTables();

  // The button Esc presses (null when none has that role).
  QPushButton* CancelButton() const { return FCancelButton; }
  const ui::DesignScale& DesignScale() const { return FScale; }
  // What the last run did (kept after it ends, whatever the ending).
  const copy::CopyResult& LastRun() const { return FLastRun; }
  // The information the window gives at the end of a run: empty when the run had nothing to
  // report (no source warnings, no value stored other than it was read, no table replaced).
  static QString RunReportText(const copy::CopyResult& result);

  // --- copy::CopyView
  void EnterCopying() override;
  void LeaveCopying() override;
  void SetGaugeMax(std::int32_t max) override;
  void SetGaugeProgress(std::int32_t progress) override;
  std::int32_t GaugeProgress() const override;
  void SetGaugeCaption(const std::string& path) override;
  void HideGauge() override;
  void ProcessMessages() override;
  bool InterruptRequested() const override;
  int AskFieldError(const std::string& prompt) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateComponents();
  void CreateControls();
  void SetCancelButton(QPushButton* button);

  // Owner of the non-visual components; they go with the window.
  std::unique_ptr<ds::TComponent> FComponents;
  ui::DesignScale FScale;
  QPushButton* FCancelButton = nullptr;
  copy::CopyResult FLastRun;
};

}  // namespace app
