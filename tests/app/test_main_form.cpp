// The main window without a copy: its design, the enabling rule of the copy button, the two
// uses of the file dialog, Esc and the interrupt question, the states a run moves it through,
// and the report it gives at the end of a run.
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/main_form.h"
#include "app/program.h"
#include "app_support.h"
#include "bde/table.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"
#include "ui/gauge.h"

namespace app {
namespace {

using app_test::CancelFileDialog;
using app_test::ChooseFiles;
using app_test::Click;
using app_test::Key;
using app_test::ModalScript;

constexpr const char* kCopyCaption = "&Kopírovat...";
constexpr const char* kInterruptCaption = "Přerušit";

TEST(MainFormDesign, ControlsTextsAndComponentsAsDesigned) {
  TMainForm form;
  EXPECT_EQ(form.windowTitle(), "Datovrat");
  // Fixed border: the size cannot change.
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);

  EXPECT_EQ(form.Edit1->text(), "");
  EXPECT_EQ(form.Button1->text(), "...");
  EXPECT_EQ(form.Button2->text(), kCopyCaption);
  EXPECT_EQ(form.Label1->text(), "&Cílová databáze:");
  EXPECT_EQ(form.Label1->buddy(), form.Edit1);  // its accelerator focuses the edit
  EXPECT_TRUE(form.Edit1->isEnabled());
  EXPECT_TRUE(form.Button1->isEnabled());
  EXPECT_FALSE(form.Button2->isEnabled());
  EXPECT_EQ(form.CancelButton(), nullptr);
  EXPECT_TRUE(form.Msg->isHidden());

  // Tab order: the edit, the browse button, the copy button.
  EXPECT_EQ(form.Edit1->nextInFocusChain(), form.Button1);
  EXPECT_EQ(form.Button1->nextInFocusChain(), form.Button2);

  const ui::Tgradgauge& msg = *form.Msg;
  EXPECT_EQ(msg.Backcolor(), ui::clBtnFace);
  EXPECT_EQ(msg.BorderColor(), ui::clGray);
  EXPECT_EQ(msg.BorderStyle(), ui::ggSolid);
  EXPECT_EQ(msg.Color1(), ui::clWhite);
  EXPECT_EQ(msg.Color2(), ui::clWhite);
  EXPECT_EQ(msg.Min(), 0);
  EXPECT_EQ(msg.Max(), 100);
  EXPECT_EQ(msg.Progress(), 0);
  EXPECT_FALSE(msg.Autocaption());
  EXPECT_EQ(msg.Align(), ui::alBottom);

  EXPECT_EQ(form.DestDatabase->DatabaseType(), "Access");
  EXPECT_FALSE(form.DestDatabase->Connected());
  EXPECT_FALSE(form.DestDatabase->LoginPrompt());
  EXPECT_EQ(form.DestDatabase->UserName(), "Admin");
  EXPECT_EQ(form.DestDatabase->SystemDatabase(), "system.mdb");
  EXPECT_EQ(form.DestDatabase->EngineType(), 2);
  EXPECT_EQ(form.DestDatabase->Workspace(), "DaoWorkspace");
  EXPECT_EQ(form.DestTable->Database(), form.DestDatabase);
  EXPECT_EQ(form.DestTable->TableType(), 2);
  EXPECT_EQ(form.DestTable->LockType(), 3);
  EXPECT_TRUE(form.DestTable->UseBrackets());
  EXPECT_FALSE(form.DestTable->Active());
  EXPECT_EQ(form.SourceTable->Name(), "SourceTable");

  EXPECT_EQ(form.OpenDlg.Title(), "Výběr souboru");
  EXPECT_EQ(form.OpenDlg.DefaultExt(), "mdb");
  EXPECT_EQ(form.OpenDlg.NameFilters(), (QStringList{"Databáze Microsoft Access (*.mdb)",
                                                     "Tabulky dBase, Paradox (*.dbf *.db)"}));
  EXPECT_EQ(form.OpenDlg.Options(),
            (TOpenOptions{ofHideReadOnly, ofPathMustExist, ofEnableSizing}));
}

TEST(MainFormDesign, GeometryIsTheDesignScaledForTheFont) {
  TMainForm form;
  form.show();
  const ui::DesignScale s = form.DesignScale();
  // The scale follows the font in use; the design font's average character is 6 by 13.
  const ui::BaseUnits units = ui::AverageCharSize(form.font());
  EXPECT_GE(s.x, units.x / 6.0 - 1e-9);
  EXPECT_DOUBLE_EQ(s.y, units.y / 13.0);
  EXPECT_EQ(form.size(), s.Map(QRect(0, 0, 291, 97)).size());
  EXPECT_EQ(form.Edit1->geometry(), s.Map(QRect(96, 8, 161, 21)));
  EXPECT_EQ(form.Button1->geometry(), s.Map(QRect(264, 8, 21, 21)));
  EXPECT_EQ(form.Button2->geometry(), s.Map(QRect(108, 40, 75, 25)));
  EXPECT_EQ(form.Label1->geometry(), s.Map(QRect(8, 10, 80, 13)));
  // The gauge keeps to the bottom edge across the whole client width.
  form.Msg->show();
  EXPECT_EQ(form.Msg->geometry(), QRect(0, form.height() - form.Msg->height(), form.width(),
                                        s.Map(QRect(0, 75, 291, 22)).height()));
  // Every caption fits its control.
  const QFontMetrics m(form.font());
  EXPECT_LE(m.horizontalAdvance("Cílová databáze:"), form.Label1->width());
  EXPECT_LE(m.horizontalAdvance("Kopírovat..."), form.Button2->width() - 6);
}

TEST(MainFormDesign, AcceleratorsFocusTheEditAndPressTheCopyButton) {
  TMainForm form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.Button1->setFocus();
  QTest::keyClick(&form, Qt::Key_C, Qt::AltModifier);
  EXPECT_EQ(QApplication::focusWidget(), form.Edit1);
  // Off while the edit is empty; with a path, Alt+K opens the source choice.
  ModalScript script;
  QTest::keyClick(&form, Qt::Key_K, Qt::AltModifier);
  QTest::qWait(300);  // an accelerator presses its button for a moment before it clicks
  EXPECT_TRUE(script.Seen().empty());
  form.Edit1->setText("x.mdb");
  script.Then(CancelFileDialog());
  QTest::keyClick(&form, Qt::Key_K, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return script.Done(); }, 3000));
  EXPECT_EQ(script.Seen().size(), 1u);
}

TEST(MainFormEdit, TheCopyButtonFollowsTheTrimmedText) {
  struct Case {
    QString text;
    bool enabled;
  };
  const Case cases[] = {
      {" ", false},       {"\t \r\n", false}, {QString(QChar(0x01)), false}, {"a", true},
      {"  x.mdb ", true}, {"", false},        {QString(QChar(0xA0)), true},
  };
  TMainForm form;
  form.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.toStdString());
    form.Edit1->setText(c.text);
    EXPECT_EQ(form.Button2->isEnabled(), c.enabled);
  }
  // Typed as a user would: one blank keeps it off, the next character turns it on.
  form.Edit1->clear();
  QTest::keyClicks(form.Edit1, " ");
  EXPECT_FALSE(form.Button2->isEnabled());
  QTest::keyClicks(form.Edit1, "d");
  EXPECT_TRUE(form.Button2->isEnabled());
}

TEST(MainFormBrowse, ANewNameIsAcceptedAndPutIntoTheEdit) {
  QTemporaryDir dir;
  TMainForm form;
  form.show();
  ModalScript script;
  script.Then(ChooseFiles({dir.filePath("nova.mdb")}, [](QFileDialog* d) {
    EXPECT_EQ(d->windowTitle(), "Výběr souboru");
    EXPECT_EQ(d->selectedNameFilter(), "Databáze Microsoft Access (*.mdb)");
    EXPECT_EQ(d->fileMode(), QFileDialog::AnyFile);
  }));
  form.Button1->click();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(form.Edit1->text(), dir.filePath("nova.mdb"));
  EXPECT_TRUE(form.Button2->isEnabled());
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("nova.mdb")));  // browsing creates nothing

  // The default extension is added to a bare name; cancelling changes nothing.
  script.Then(ChooseFiles({dir.filePath("druha")}));
  form.Button1->click();
  EXPECT_EQ(form.Edit1->text(), dir.filePath("druha.mdb"));
  script.Then(CancelFileDialog());
  form.Button1->click();
  EXPECT_EQ(form.Edit1->text(), dir.filePath("druha.mdb"));
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST(MainFormBrowse, AFolderThatDoesNotExistIsRefused) {
  QTemporaryDir dir;
  TMainForm form;
  form.show();
  ModalScript script;
  // The dialog warns and stays open; the user then cancels it.
  script.Then(ChooseFiles({dir.filePath("chybi/nova.mdb")}))
      .Then([](QWidget* box) { box->close(); })
      .Then(CancelFileDialog());
  form.Button1->click();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(script.Seen().size(), 3u);
  EXPECT_EQ(form.Edit1->text(), "");
}

TEST(MainFormSources, TheSourceChoiceWantsExistingTablesAndKeepsTheFolder) {
  QTemporaryDir dir;
  app_test::WriteFile(dir.filePath("A.DBF"), app_test::NumberedTable(1));
  app_test::RecordedErrors errors;
  TMainForm form;
  form.show();
  ModalScript script;
  // Browse in the temporary folder first, so the source choice opens there.
  script.Then(ChooseFiles({dir.filePath("cil.mdb")}));
  form.Button1->click();
  // A missing table is refused with a warning, the dialog staying open; cancelling it then
  // starts nothing.
  QString folder;
  script
      .Then(ChooseFiles({"chybi.dbf"},
                        [&](QFileDialog* d) {
                          folder = d->directory().absolutePath();
                          EXPECT_EQ(d->selectedNameFilter(), "Tabulky dBase, Paradox (*.dbf *.db)");
                          EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFiles);
                        }))
      .Then([](QWidget* box) { box->close(); })
      .Then(CancelFileDialog());
  form.Button2->click();
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(folder, QFileInfo(dir.path()).absoluteFilePath());
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("cil.mdb")));
  EXPECT_TRUE(errors.Messages().empty());
  EXPECT_EQ(form.Button2->text(), kCopyCaption);
  EXPECT_TRUE(form.Edit1->isEnabled());

  // The next browse is back to one file that need not exist.
  script.Then(CancelFileDialog([](QFileDialog* d) {
    EXPECT_EQ(d->fileMode(), QFileDialog::AnyFile);
    EXPECT_EQ(d->selectedNameFilter(), "Databáze Microsoft Access (*.mdb)");
  }));
  form.Button1->click();
  EXPECT_EQ(form.OpenDlg.Options(),
            (TOpenOptions{ofHideReadOnly, ofPathMustExist, ofEnableSizing}));
  EXPECT_EQ(script.Unexpected(), 0);
}

// The states a run moves the window through, driven through the view the run uses.
TEST(MainFormStates, CopyingStateEscAndTheInterruptQuestion) {
  TMainForm form;
  form.show();
  form.Edit1->setText("x.mdb");
  // Esc while idle does nothing: no dialog opens.
  {
    ModalScript idle;
    QTest::keyClick(&form, Qt::Key_Escape);
    QTest::qWait(30);
    EXPECT_TRUE(idle.Seen().empty());
  }

  form.EnterCopying();
  EXPECT_FALSE(form.Edit1->isEnabled());
  EXPECT_FALSE(form.Button1->isEnabled());
  EXPECT_TRUE(form.Button2->isEnabled());
  EXPECT_EQ(form.Button2->text(), kInterruptCaption);
  EXPECT_EQ(form.CancelButton(), form.Button2);
  EXPECT_TRUE(form.Msg->isVisible());
  EXPECT_EQ(form.Msg->Progress(), 0);
  EXPECT_EQ(form.Msg->Caption(), "");
  EXPECT_FALSE(form.InterruptRequested());

  // Esc asks; No (or Esc again) keeps the copy going; Yes, Enter and the close box ask for
  // the interrupt.
  struct Case {
    ModalScript::Step answer;
    bool interrupted;
  };
  const std::vector<std::pair<const char*, Case>> cases = {
      {"No", {Click("No"), false}},
      {"Esc", {Key(Qt::Key_Escape), false}},
      {"Yes", {Click("Yes"), true}},
      {"Enter", {Key(Qt::Key_Return), true}},
      {"close box", {app_test::CloseBox(), true}},
  };
  for (const auto& [name, c] : cases) {
    SCOPED_TRACE(name);
    form.Button2->setEnabled(true);
    ModalScript script;
    script.Then(c.answer);
    QTest::keyClick(form.Button2, Qt::Key_Escape);  // from the focused control, as typed
    ASSERT_EQ(script.Seen().size(), 1u);
    EXPECT_EQ(script.Seen()[0].title, "Potvrzení");
    EXPECT_EQ(script.Seen()[0].text, "Chcete přerušit operaci?");
    EXPECT_EQ(form.Button2->isEnabled(), !c.interrupted);
    EXPECT_EQ(form.InterruptRequested(), c.interrupted);
  }
  // A disabled Button2 is no longer pressed by Esc.
  {
    ModalScript none;
    QTest::keyClick(&form, Qt::Key_Escape);
    QTest::qWait(30);
    EXPECT_TRUE(none.Seen().empty());
  }

  form.LeaveCopying();
  EXPECT_TRUE(form.Edit1->isEnabled());
  EXPECT_TRUE(form.Button1->isEnabled());
  EXPECT_TRUE(form.Button2->isEnabled());
  EXPECT_EQ(form.Button2->text(), kCopyCaption);
  EXPECT_EQ(form.CancelButton(), nullptr);
  EXPECT_TRUE(form.Msg->isVisible());  // the run hides it only when it ends normally
}

TEST(MainFormStates, TheGaugeCaptionIsThePathShortenedToTheGauge) {
  TMainForm form;
  form.show();
  form.EnterCopying();
  const QFontMetrics m(form.font());
  const std::string short_path = "/a/B.DBF";
  form.SetGaugeCaption(short_path);
  EXPECT_EQ(form.Msg->Caption().toStdString(), short_path);
  const std::string long_path =
      "/home/uzivatel/data/archiv/2024/ucetnictvi/prijate/faktury/FAKTURY.DBF";
  form.SetGaugeCaption(long_path);
  const QString shown = form.Msg->Caption();
  EXPECT_NE(shown.toStdString(), long_path);
  EXPECT_TRUE(shown.endsWith("/FAKTURY.DBF")) << shown.toStdString();
  EXPECT_TRUE(shown.contains("...")) << shown.toStdString();
  EXPECT_LE(m.horizontalAdvance(shown), form.Msg->width());
  form.SetGaugeMax(25);
  form.SetGaugeProgress(30);
  EXPECT_EQ(form.GaugeProgress(), 25);  // clamped by the gauge
  form.HideGauge();
  EXPECT_FALSE(form.Msg->isVisible());
  form.LeaveCopying();
}

TEST(MainFormStates, TheFieldErrorQuestionGivesTheAnswersModalResult) {
  TMainForm form;
  form.show();
  const std::pair<ModalScript::Step, int> cases[] = {
      {Click("Yes"), 6},        {Click("No"), 7},          {Click("YesToAll"), 10},
      {Key(Qt::Key_Escape), 7}, {app_test::CloseBox(), 2},
  };
  for (const auto& [answer, result] : cases) {
    ModalScript script;
    script.Then(answer);
    EXPECT_EQ(form.AskFieldError("Field 'CENA': invalid number \"x\"\r\nPokračovat?"), result);
    ASSERT_EQ(script.Seen().size(), 1u);
    EXPECT_EQ(script.Seen()[0].title, "Potvrzení");
    EXPECT_EQ(script.Seen()[0].text, "Field 'CENA': invalid number \"x\"\r\nPokračovat?");
  }
}

TEST(MainFormReport, OnlyWhatChangedOrWarnedIsReportedPerTable) {
  copy::CopyResult clean;
  clean.tables.push_back({"/d/A.DBF", "A", 3, true, {}, {}, {"ID: Long Integer"}, {}, {}, {}});
  EXPECT_EQ(TMainForm::RunReportText(clean), "");

  copy::CopyResult result = clean;
  copy::TableReport b;
  b.source = "/d/B.DBF";
  b.table = "B";
  b.warnings = {"/d/B.DBF: 2 records beyond the header's count were read"};
  b.changes = {"OK: 3 blank logical values stored as No"};
  b.skipped = {
      {4, "CENA", "invalid number"}, {9, "DATUM", "invalid date"}, {12, "CENA", "invalid number"}};
  result.tables.push_back(b);
  copy::TableReport a2;
  a2.source = "/d/A.DB";
  a2.table = "A";
  a2.replaced_source = "/d/A.DBF";
  for (int i = 0; i < 7; ++i) a2.warnings.push_back("w" + std::to_string(i));
  result.tables.push_back(a2);

  const QStringList lines = TMainForm::RunReportText(result).split("\r\n");
  const QStringList expected = {
      "Při kopírování bylo zjištěno:",
      "Tabulka B (/d/B.DBF):",
      "  upozornění: /d/B.DBF: 2 records beyond the header's count were read",
      "  změněno: OK: 3 blank logical values stored as No",
      "  vynechané hodnoty: 3 (CENA, DATUM)",
      "Tabulka A (/d/A.DB):",
      "  upozornění: w0",
      "  upozornění: w1",
      "  upozornění: w2",
      "  upozornění: w3",
      "  upozornění: w4",
      "  … a dalších 2",
      "  nahradila tabulku ze souboru /d/A.DBF",
  };
  EXPECT_EQ(lines, expected);
}

TEST(ProgramEntry, TitleSettingsAndTheWindowUntilItCloses) {
  QString title;
  bool window_seen = false;
  QTimer::singleShot(50, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* form = qobject_cast<TMainForm*>(w); form && form->isVisible()) {
        window_seen = true;
        title = form->windowTitle();
        form->close();
      }
    }
  });
  const platform::Hooks saved = platform::CurrentHooks();
  EXPECT_EQ(RunMainWindow(), 0);
  platform::InstallHooks(saved);
  EXPECT_TRUE(window_seen);
  EXPECT_EQ(title, "Datovrat");
  EXPECT_EQ(platform::ApplicationTitle(), "Datovrat");
}

}  // namespace
}  // namespace app
