#include "app/main_form.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <exception>
#include <set>

#include "bde/table.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"
#include "platform/resource_strings.h"
#include "ui/application.h"
#include "ui/colors.h"
#include "ui/gauge.h"
#include "ui/message_form.h"

namespace app {
namespace {

using platform::ResString;

QString Res(ResString id) {
  return QString::fromStdString(platform::LoadResString(id));
}

// Design geometry at 96 pixels per inch: left, top, width, height.
constexpr QRect kEdit1(96, 8, 161, 21);
constexpr QRect kButton1(264, 8, 21, 21);
constexpr QRect kButton2(108, 40, 75, 25);
constexpr QRect kLabel1(8, 10, 80, 13);
constexpr QRect kMsg(0, 75, 291, 22);

// The design font: 8-point MS Sans Serif. Where that face is missing the desktop's sans serif
// stands in; being in points, it grows with the screen's pixels per inch, and the layout
// grows with it.
QFont DesignFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

// The enabling rule trims blanks and control characters at both ends, as the original's
// Trim did (every character up to the space counts).
bool IsBlank(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0x20; });
}

// The report lists so much per table; a table with a long list says how many more there are.
constexpr int kReportLinesPerKind = 5;

void AppendLimited(QStringList& lines, const std::vector<std::string>& items, ResString format) {
  const int shown = std::min<int>(static_cast<int>(items.size()), kReportLinesPerKind);
  for (int i = 0; i < shown; ++i)
    lines << QStringLiteral("  ") +
                 Res(format).arg(QString::fromStdString(items[static_cast<std::size_t>(i)]));
  if (static_cast<int>(items.size()) > shown)
    lines << QStringLiteral("  ") +
                 Res(ResString::RunReportMore).arg(static_cast<int>(items.size()) - shown);
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      OpenDlg(this) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Datovrat"));
  setFont(DesignFont());
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, ui::ColorToRGB(ui::clBtnFace));
  colours.setColor(QPalette::WindowText, ui::ColorToRGB(ui::clWindowText));
  setPalette(colours);

  CreateComponents();
  CreateControls();
  FormCreate();
}

TMainForm::~TMainForm() {
  // A run never outlives the window, but a destination left connected by a failed start must
  // not outlive the components it hands out.
  try {
    if (DestDatabase->Connected()) DestDatabase->Close();
  } catch (...) {
  }
}

void TMainForm::CreateComponents() {
  FComponents = std::make_unique<ds::TComponent>();

  SourceTable = new bde::TTable(FComponents.get());
  SourceTable->SetName("SourceTable");

  DestDatabase = new daodb::TMxDaoDatabase(FComponents.get());
  DestDatabase->SetName("DestDatabase");
  DestDatabase->BeginLoading();
  DestDatabase->SetDatabaseType("Access");
  DestDatabase->SetExclusive(false);
  DestDatabase->SetReadOnly(false);
  DestDatabase->SetLoginPrompt(false);
  DestDatabase->SetUserName("Admin");
  DestDatabase->SetSystemDatabase("system.mdb");
  DestDatabase->SetSaveUserName(true);
  DestDatabase->SetSmartOpen(true);
  DestDatabase->SetEngineType(2);
  DestDatabase->SetPrivateEngine(false);
  DestDatabase->SetTrackTransactions(true);
  DestDatabase->SetUsesDynaDao(false);
  DestDatabase->SetVersion("3.6");
  DestDatabase->SetWorkspace("DaoWorkspace");
  DestDatabase->SetDefaultCursorDriver(-1);
  DestDatabase->SetQueryTimeout(60);
  DestDatabase->SetMdbVersionAutoDetect(false);
  DestDatabase->SetDisableRefresh(false);
  DestDatabase->SetUseODBCDialog(true);
  DestDatabase->EndLoading();

  DestTable = new daotable::TMxDaoTable(FComponents.get());
  DestTable->SetName("DestTable");
  DestTable->BeginLoading();
  DestTable->SetDatabase(DestDatabase);
  DestTable->SetTableType(2);
  DestTable->SetLockType(3);
  DestTable->SetOpenOptions({});
  DestTable->SetReadOnly(false);
  DestTable->SetLockEdits(false);
  DestTable->SetUseBrackets(true);
  DestTable->SetUseDaoProperties(true);
  DestTable->SetUseGetRecNo(true);
  DestTable->SetUseRecordCount(true);
  DestTable->SetAutoFindIndex(true);
  DestTable->SetCacheBlobs(false);
  DestTable->SetCacheMemos(false);
  DestTable->SetCacheLookups(false);
  DestTable->SetExportMethod(daotable::TExportMethod::VisibleFields);
  DestTable->SetRefreshSorted(false);
  DestTable->SetQueryDefODBCMaxRecords(0);
  DestTable->SetShowGUID(false);
  DestTable->SetMasterAutoActivate(true);
  DestTable->SetDatabaseAutoActivate(false);
  DestTable->SetUseCaptions(false);
  DestTable->SetWarnOnBadDatabase(false);
  DestTable->SetFiltered(false);
  DestTable->SetParamCheck(true);
  DestTable->SetProcessMessages(false);
  DestTable->EndLoading();

  OpenDlg.SetTitle(QStringLiteral("Výběr souboru"));
  OpenDlg.SetDefaultExt(QStringLiteral("mdb"));
  OpenDlg.SetFilter(
      QStringLiteral("Databáze Microsoft Access|*.mdb|Tabulky dBase, Paradox|*.dbf;*.db"));
  OpenDlg.SetOptions({ofHideReadOnly, ofPathMustExist, ofEnableSizing});
}

void TMainForm::CreateControls() {
  // The layout grows with the font; captions that the font makes wider than their design
  // room widen it further.
  FScale = ui::DesignScale::ForFont(font());
  FScale.FitText(font(), Res(ResString::CopyButtonCaption), kButton2.width() - 8);
  FScale.FitText(font(), Res(ResString::InterruptButtonCaption), kButton2.width() - 8);
  FScale.FitText(font(), QStringLiteral("&Cílová databáze:"), kLabel1.width());
  const ui::DesignScale scale = FScale;
  setFixedSize(scale.Map(QRect(0, 0, kDesignClientWidth, kDesignClientHeight)).size());

  Edit1 = new QLineEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(scale.Map(kEdit1));

  Button1 = new QPushButton(QStringLiteral("..."), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(scale.Map(kButton1));

  Button2 = new QPushButton(this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(scale.Map(kButton2));
  Button2->setEnabled(false);

  Label1 = new QLabel(QStringLiteral("&Cílová databáze:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(scale.Map(kLabel1));
  Label1->setBuddy(Edit1);

  Msg = new ui::Tgradgauge(this);
  Msg->setObjectName(QStringLiteral("Msg"));
  Msg->setGeometry(scale.Map(kMsg));
  ui::TgradgaugeProperties gauge;
  gauge.Backcolor = ui::clBtnFace;
  gauge.BorderColor = ui::clGray;
  gauge.BorderStyle = ui::ggSolid;
  gauge.Color1 = ui::clWhite;
  gauge.Color2 = ui::clWhite;
  gauge.Min = 0;
  gauge.Max = 100;
  gauge.Progress = 0;
  gauge.Autocaption = false;
  gauge.Visible = false;
  gauge.Align = ui::alBottom;
  Msg->LoadProperties(gauge);

  setTabOrder(Edit1, Button1);
  setTabOrder(Button1, Button2);
  Label1->setFocusPolicy(Qt::NoFocus);

  connect(Edit1, &QLineEdit::textChanged, this, ui::Guarded([this] { Edit1Change(); }));
  connect(Button1, &QPushButton::clicked, this, ui::Guarded([this] { Button1Click(); }));
  connect(Button2, &QPushButton::clicked, this, ui::Guarded([this] { Button2Click(); }));

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect s = screen->availableGeometry();
    move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
  }
}

void TMainForm::FormCreate() {
  Button2->setText(Res(ResString::CopyButtonCaption));
}

void TMainForm::Edit1Change() {
  Button2->setEnabled(!IsBlank(Edit1->text()));
}

void TMainForm::Button1Click() {
  OpenDlg.SetFilterIndex(1);
  OpenDlg.SetOptions(OpenDlg.Options().Exclude(ofAllowMultiSelect).Exclude(ofFileMustExist));
  if (OpenDlg.Execute()) Edit1->setText(OpenDlg.FileName());
}

void TMainForm::Button2Click() {
  if (Button2->text() == Res(ResString::CopyButtonCaption)) {
    OpenDlg.SetFilterIndex(2);
    OpenDlg.SetOptions(OpenDlg.Options().Include(ofAllowMultiSelect).Include(ofFileMustExist));
    if (OpenDlg.Execute()) CopyTables();
    return;
  }
  // Entered from inside the run's event processing: the answer is the interrupt request.
  const int answer =
      ui::ShowMessageForm(Res(ResString::InterruptQuestion), ui::mkConfirmation, ui::mbYesNo, 0);
  Button2->setEnabled(answer == ui::mrNo);
}

void TMainForm::CopyTables() {
  copy::CopyComponents components;
  components.SourceTable = SourceTable;
  components.DestDatabase = DestDatabase;
  components.DestTable = DestTable;
  std::vector<std::string> files;
  for (const QString& file : OpenDlg.Files()) files.push_back(file.toStdString());

  FLastRun = copy::CopyResult();
  // The information comes after the run has put the controls back, whatever its ending; an
  // error goes on to the top-level handler after it.
  std::exception_ptr error;
  try {
    copy::CopyTables(*this, components, Edit1->text().toStdString(), files, copy::CopyOptions(),
                     FLastRun);
  } catch (...) {
    error = std::current_exception();
  }
  const QString report = RunReportText(FLastRun);
  if (!report.isEmpty()) ui::ShowMessageForm(report, ui::mkInformation, ui::ButtonSet(ui::mbOK), 0);
  if (error) std::rethrow_exception(error);
}

QString TMainForm::RunReportText(const copy::CopyResult& result) {
  QStringList lines;
  for (const copy::TableReport& table : result.tables) {
    QStringList details;
    AppendLimited(details, table.warnings, ResString::RunReportWarning);
    AppendLimited(details, table.changes, ResString::RunReportChanged);
    if (!table.skipped.empty()) {
      // The fields, each once, in the order they first failed.
      QStringList fields;
      std::set<std::string> seen;
      for (const copy::SkippedValue& value : table.skipped)
        if (seen.insert(value.field).second) fields << QString::fromStdString(value.field);
      details << QStringLiteral("  ") + Res(ResString::RunReportSkipped)
                                            .arg(static_cast<qlonglong>(table.skipped.size()))
                                            .arg(fields.join(QStringLiteral(", ")));
    }
    if (!table.replaced_source.empty())
      details << QStringLiteral("  ") + Res(ResString::RunReportReplaced)
                                            .arg(QString::fromStdString(table.replaced_source));
    if (details.isEmpty()) continue;
    lines << Res(ResString::RunReportTable)
                 .arg(QString::fromStdString(table.table), QString::fromStdString(table.source));
    lines << details;
  }
  if (lines.isEmpty()) return QString();
  lines.prepend(Res(ResString::RunReportHeading));
  return lines.join(QStringLiteral("\r\n"));
}

// --- copy::CopyView

void TMainForm::EnterCopying() {
  Edit1->setEnabled(false);
  Button1->setEnabled(false);
  Button2->setText(Res(ResString::InterruptButtonCaption));
  SetCancelButton(Button2);
  Msg->SetProgress(0);
  Msg->SetCaption(QString());
  Msg->show();
}

void TMainForm::LeaveCopying() {
  Edit1->setEnabled(true);
  Button1->setEnabled(true);
  Button2->setEnabled(true);
  Button2->setText(Res(ResString::CopyButtonCaption));
  SetCancelButton(nullptr);
}

void TMainForm::SetGaugeMax(std::int32_t max) {
  Msg->SetMax(max);
}

void TMainForm::SetGaugeProgress(std::int32_t progress) {
  Msg->SetProgress(progress);
}

std::int32_t TMainForm::GaugeProgress() const {
  return Msg->Progress();
}

void TMainForm::SetGaugeCaption(const std::string& path) {
  const QFontMetrics metrics(font());
  const std::string shown =
      copy::ShortenPath(path, Msg->width(), [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
      });
  Msg->SetCaption(QString::fromStdString(shown));
}

void TMainForm::HideGauge() {
  Msg->hide();
}

void TMainForm::ProcessMessages() {
  QCoreApplication::processEvents();
}

bool TMainForm::InterruptRequested() const {
  return !Button2->isEnabled();
}

int TMainForm::AskFieldError(const std::string& prompt) {
  return ui::ShowMessageForm(QString::fromStdString(prompt), ui::mkConfirmation,
                             ui::mbYesNoYesToAll, 0);
}

void TMainForm::SetCancelButton(QPushButton* button) {
  FCancelButton = button;
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  // Esc presses the cancel button, as a dialog's would; without one it does nothing.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (FCancelButton && FCancelButton->isEnabled() && FCancelButton->isVisible())
      FCancelButton->click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace app
