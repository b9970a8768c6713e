// The main window driven through real copies: small dBase tables written here and corpus
// tables, into new databases in a temporary folder, read back with mdbtools. The window is the
// program's own; a subclass only watches the moments the run hands to it (events processed,
// progress) and, like a user's hand, can press a key at a given record.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <set>

#include "app/main_form.h"
#include "app_support.h"
#include "daodb/mx_dao_database.h"
#include "ui/gauge.h"

namespace app {
namespace {

using app_test::ChooseFiles;
using app_test::Click;
using app_test::Key;
using app_test::MakeDbf;
using app_test::MdbRows;
using app_test::ModalScript;
using app_test::NumberedTable;
using app_test::RecordedErrors;
using app_test::SeenModal;
using app_test::WriteFile;

constexpr const char* kCopyCaption = "&Kopírovat...";

class WatchedForm : public TMainForm {
 public:
  // Progress of the gauge each time the run let events through.
  std::vector<int> processed_at;
  // Whether Button2 was still enabled when the events had been processed.
  std::vector<bool> enabled_after;
  // Called after every progress change, with the progress the gauge holds.
  std::function<void(int progress)> on_progress;

  void ProcessMessages() override {
    processed_at.push_back(Msg->Progress());
    TMainForm::ProcessMessages();
    enabled_after.push_back(Button2->isEnabled());
  }
  void SetGaugeProgress(std::int32_t progress) override {
    TMainForm::SetGaugeProgress(progress);
    if (on_progress) on_progress(Msg->Progress());
  }

  // A key pressed now reaches the window when the run next lets events through.
  void PressLater(Qt::Key key) {
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : this;
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
  }
};

class CopyWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    form_.show();
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }

  // Presses the copy button with `database` in the edit and the files chosen in the dialog;
  // `after` are the answers to whatever the run asks. Returns when the run has ended.
  void Copy(const QString& database, const QStringList& files,
            std::vector<ModalScript::Step> after = {}) {
    form_.Edit1->setText(database);
    script_ = std::make_unique<ModalScript>();
    script_->Then(ChooseFiles(files));
    for (auto& step : after) script_->Then(std::move(step));
    form_.processed_at.clear();
    form_.enabled_after.clear();
    form_.Button2->click();
  }

  // The window is back to idle and can start another run.
  void ExpectIdle() {
    EXPECT_TRUE(form_.Edit1->isEnabled());
    EXPECT_TRUE(form_.Button1->isEnabled());
    EXPECT_TRUE(form_.Button2->isEnabled());
    EXPECT_EQ(form_.Button2->text(), kCopyCaption);
    EXPECT_EQ(form_.CancelButton(), nullptr);
    EXPECT_FALSE(form_.DestDatabase->Connected());
  }

  QTemporaryDir dir_;
  RecordedErrors errors_;
  WatchedForm form_;
  std::unique_ptr<ModalScript> script_;
};

TEST_F(CopyWindow, TablesAreCopiedAndTheWindowReturnsToIdle) {
  WriteFile(Path("A.DBF"), NumberedTable(3));
  WriteFile(Path("B.DBF"), NumberedTable(12));
  // The path is used as typed: the trailing blank is part of the file's name.
  const QString database = Path("cil.mdb ");
  Copy(database, {Path("A.DBF"), Path("B.DBF")});

  EXPECT_TRUE(script_->Done());
  EXPECT_EQ(script_->Unexpected(), 0);  // nothing to report, no question
  EXPECT_TRUE(errors_.Messages().empty());
  ExpectIdle();
  EXPECT_FALSE(form_.Msg->isVisible());
  EXPECT_TRUE(QFileInfo::exists(database));
  // Events went through once at the start and after record 10 of B.
  EXPECT_EQ(form_.processed_at, (std::vector<int>{0, 10}));
  EXPECT_EQ(form_.LastRun().ending, copy::CopyEnding::Completed);
  EXPECT_EQ(MdbRows(database, "A"),
            (std::vector<std::string>{"1,\"record 1\"", "2,\"record 2\"", "3,\"record 3\""}));
  EXPECT_EQ(MdbRows(database, "B").size(), 12u);
}

TEST_F(CopyWindow, EscIsServedAfterRecords10And20AndYesStopsTheRun) {
  WriteFile(Path("N25.DBF"), NumberedTable(25));
  WriteFile(Path("LATER.DBF"), NumberedTable(3));
  // Esc at record 3 is asked about after record 10 and answered with Esc (go on); Esc at
  // record 13 is asked about after record 20 and answered Yes.
  form_.on_progress = [&](int progress) {
    if (progress == 3 || progress == 13) form_.PressLater(Qt::Key_Escape);
  };
  const QString database = Path("cil.mdb");
  Copy(database, {Path("N25.DBF"), Path("LATER.DBF")}, {Key(Qt::Key_Escape), Click("Yes")});

  ASSERT_TRUE(script_->Done());
  ASSERT_EQ(script_->Seen().size(), 3u);
  EXPECT_EQ(script_->Seen()[1].text, "Chcete přerušit operaci?");
  EXPECT_EQ(script_->Seen()[2].text, "Chcete přerušit operaci?");
  EXPECT_EQ(form_.processed_at, (std::vector<int>{0, 10, 20}));
  // Yes disabled the button as the question closed: that is the request the run obeys.
  EXPECT_EQ(form_.enabled_after, (std::vector<bool>{true, true, false}));
  EXPECT_TRUE(errors_.Messages().empty());
  ExpectIdle();
  // The gauge stays where the run stopped.
  EXPECT_TRUE(form_.Msg->isVisible());
  EXPECT_EQ(form_.Msg->Progress(), 20);
  EXPECT_TRUE(form_.Msg->Caption().endsWith("N25.DBF")) << form_.Msg->Caption().toStdString();
  EXPECT_EQ(form_.LastRun().ending, copy::CopyEnding::Interrupted);
  // No record after the answer: the table keeps 20, the later file is skipped.
  EXPECT_EQ(MdbRows(database, "N25").size(), 20u);
  std::string tables;
  app_test::RunCommand("mdb-tables -1 '" + database.toStdString() + "'", tables);
  EXPECT_EQ(tables, "N25\n");

  // The gauge stays visible until a later run ends normally.
  form_.on_progress = nullptr;
  Copy(database, {Path("LATER.DBF")});
  EXPECT_FALSE(form_.Msg->isVisible());
  EXPECT_EQ(MdbRows(database, "LATER").size(), 3u);
  ExpectIdle();
}

// Source tables whose QTY values are not numbers in some records: the value cannot be read.
std::string TableWithBadValues(const std::vector<std::string>& qty) {
  std::vector<std::vector<std::string>> records;
  for (std::size_t i = 0; i < qty.size(); ++i)
    records.push_back({std::to_string(i + 1), qty[i], "r" + std::to_string(i + 1)});
  return MakeDbf({{"ID", 'N', 5}, {"QTY", 'N', 5}, {"NAME", 'C', 10}}, records);
}

TEST_F(CopyWindow, FieldErrorsAskYesNoAndYesToAllPerTable) {
  WriteFile(Path("BAD1.DBF"), TableWithBadValues({"1", "abc", "x", "4", "y", "z"}));
  WriteFile(Path("BAD2.DBF"), TableWithBadValues({"1", "q", "w"}));
  WriteFile(Path("BAD3.DBF"), TableWithBadValues({"1", "e"}));
  const QString database = Path("cil.mdb");
  QString report;
  // BAD1: Yes at record 2, Yes to all at record 3, silent for 5 and 6. BAD2 asks again: Yes at
  // record 2, No at record 3, which ends the run. Then the report of the skipped values.
  Copy(database, {Path("BAD1.DBF"), Path("BAD2.DBF"), Path("BAD3.DBF")},
       {Click("Yes"), Click("YesToAll"), Click("Yes"), Click("No"), [&](QWidget* info) {
          report = info->windowTitle();
          Click("OK")(info);
        }});

  ASSERT_TRUE(script_->Done());
  EXPECT_EQ(script_->Unexpected(), 0);
  const auto& seen = script_->Seen();
  ASSERT_EQ(seen.size(), 6u);
  for (std::size_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(seen[i].title, "Potvrzení");
    EXPECT_TRUE(seen[i].text.endsWith("\r\nPokračovat?")) << seen[i].text.toStdString();
  }
  EXPECT_TRUE(seen[1].text.contains("abc")) << seen[1].text.toStdString();
  EXPECT_TRUE(seen[2].text.contains("x\"")) << seen[2].text.toStdString();
  EXPECT_TRUE(seen[3].text.contains("q\"")) << seen[3].text.toStdString();
  EXPECT_TRUE(seen[4].text.contains("w\"")) << seen[4].text.toStdString();
  EXPECT_EQ(report, "Informace");
  EXPECT_TRUE(seen[5].text.contains("vynechané hodnoty: 4 (QTY)")) << seen[5].text.toStdString();
  EXPECT_TRUE(seen[5].text.contains("vynechané hodnoty: 1 (QTY)")) << seen[5].text.toStdString();

  // The No ends the run with the field's own error, shown by the top-level handler.
  ASSERT_EQ(errors_.Messages().size(), 1u);
  EXPECT_EQ(QString::fromStdString(errors_.Messages()[0]) + "\r\nPokračovat?", seen[4].text);
  ExpectIdle();
  EXPECT_TRUE(form_.Msg->isVisible());
  EXPECT_EQ(form_.LastRun().ending, copy::CopyEnding::Failed);

  // The skipped values are empty; the failing record of BAD2 is not there; BAD3 was not made.
  EXPECT_EQ(MdbRows(database, "BAD1"),
            (std::vector<std::string>{"1,1,\"r1\"", "2,,\"r2\"", "3,,\"r3\"", "4,4,\"r4\"",
                                      "5,,\"r5\"", "6,,\"r6\""}));
  EXPECT_EQ(MdbRows(database, "BAD2"), (std::vector<std::string>{"1,1,\"r1\"", "2,,\"r2\""}));
  std::string tables;
  app_test::RunCommand("mdb-tables -1 '" + database.toStdString() + "'", tables);
  EXPECT_TRUE(tables == "BAD1\nBAD2\n" || tables == "BAD2\nBAD1\n") << tables;

  // The answer does not carry over to the next run, and the window works as before.
  Copy(database, {Path("BAD3.DBF")}, {Click("YesToAll"), Click("OK")});
  EXPECT_TRUE(script_->Done());
  EXPECT_EQ(errors_.Messages().size(), 1u);
  EXPECT_EQ(MdbRows(database, "BAD3").size(), 2u);
  EXPECT_FALSE(form_.Msg->isVisible());
  ExpectIdle();
}

TEST_F(CopyWindow, ErrorsReachTheTopLevelHandlerAndTheWindowStaysUsable) {
  WriteFile(Path("GOOD.DBF"), NumberedTable(4));
  WriteFile(Path("BROKEN.DBF"), std::string("this is not a table at all, only some words"));

  // The destination cannot be made: reported, nothing was changed in the window.
  Copy(Path("chybi/cil.mdb"), {Path("GOOD.DBF")});
  ASSERT_EQ(errors_.Messages().size(), 1u);
  EXPECT_FALSE(form_.Msg->isVisible());
  ExpectIdle();
  EXPECT_FALSE(QFileInfo::exists(Path("chybi/cil.mdb")));

  // A source that cannot be read ends the run after the tables before it are copied.
  const QString database = Path("cil.mdb");
  Copy(database, {Path("GOOD.DBF"), Path("BROKEN.DBF"), Path("GOOD.DBF")});
  ASSERT_EQ(errors_.Messages().size(), 2u);
  EXPECT_NE(errors_.Messages()[1].find("BROKEN.DBF"), std::string::npos) << errors_.Messages()[1];
  ExpectIdle();
  EXPECT_TRUE(form_.Msg->isVisible());
  EXPECT_TRUE(form_.Msg->Caption().endsWith("BROKEN.DBF"));
  EXPECT_EQ(MdbRows(database, "GOOD").size(), 4u);

  // And the next run goes through.
  WriteFile(Path("NEXT.DBF"), NumberedTable(2));
  Copy(database, {Path("NEXT.DBF")});
  EXPECT_EQ(errors_.Messages().size(), 2u);
  EXPECT_EQ(MdbRows(database, "NEXT").size(), 2u);
  EXPECT_FALSE(form_.Msg->isVisible());
  ExpectIdle();
}

TEST_F(CopyWindow, AChangedValueIsReportedOnceAtTheEnd) {
  // A blank logical cannot be stored in a Yes/No column; it arrives as No.
  WriteFile(Path("FLAGS.DBF"), MakeDbf({{"ID", 'N', 3}, {"OK", 'L', 1}},
                                       {{"1", "T"}, {"2", " "}, {"3", "F"}, {"4", "?"}}));
  WriteFile(Path("PLAIN.DBF"), NumberedTable(2));
  Copy(Path("cil.mdb"), {Path("FLAGS.DBF"), Path("PLAIN.DBF")}, {Click("OK")});
  ASSERT_TRUE(script_->Done());
  EXPECT_EQ(script_->Unexpected(), 0);
  ASSERT_EQ(script_->Seen().size(), 2u);
  const SeenModal& info = script_->Seen()[1];
  EXPECT_EQ(info.title, "Informace");
  const QStringList lines = info.text.split("\r\n");
  EXPECT_EQ(lines.value(0), "Při kopírování bylo zjištěno:");
  EXPECT_EQ(lines.value(1), "Tabulka FLAGS (" + Path("FLAGS.DBF") + "):");
  EXPECT_TRUE(lines.value(2).startsWith("  změněno: OK: 2 blank logical values"))
      << info.text.toStdString();
  EXPECT_EQ(lines.size(), 3);  // PLAIN had nothing to report
  EXPECT_TRUE(errors_.Messages().empty());
  ExpectIdle();
}

TEST_F(CopyWindow, ATableReplacedByALaterSourceOfTheSameNameIsReported) {
  // Names that differ only in case make the same table; the later file's copy stays.
  WriteFile(Path("A.DBF"), NumberedTable(3));
  WriteFile(Path("a.dbf"), NumberedTable(2));
  const QString database = Path("cil.mdb");
  Copy(database, {Path("A.DBF"), Path("a.dbf")}, {Click("OK")});
  ASSERT_TRUE(script_->Done());
  ASSERT_EQ(script_->Seen().size(), 2u);
  const QStringList lines = script_->Seen()[1].text.split("\r\n");
  EXPECT_EQ(lines.value(1), "Tabulka a (" + Path("a.dbf") + "):");
  EXPECT_EQ(lines.value(2), "  nahradila tabulku ze souboru " + Path("A.DBF"));
  std::string tables;
  app_test::RunCommand("mdb-tables -1 '" + database.toStdString() + "'", tables);
  EXPECT_EQ(tables, "a\n");
  EXPECT_EQ(MdbRows(database, "a").size(), 2u);
  EXPECT_TRUE(errors_.Messages().empty());
}

// A picture of the window in the middle of copying corpus tables from a folder whose path is
// too long for the gauge, written to <build>/images/app/.
TEST_F(CopyWindow, PictureMidCopy) {
  const QString data = QStringLiteral(DATOVRAT_TESTDATA "/bde/");
  const QString deep = Path("zdrojová data/archiv/2024/účetnictví/zákazníci a objednávky/");
  for (const char* f :
       {"synthetic/czech852.dbf", "synthetic/czech852.fpt", "paradox/paradoxdriver/db/CUSTOMER.DB",
        "paradox/paradoxdriver/db/CUSTOMER.MB"})
    app_test::CopyInto(data + f, deep + QFileInfo(QString::fromLatin1(f)).fileName());

  QImage picture;
  QString caption;
  int max = 0;
  form_.on_progress = [&](int progress) {
    if (progress == 10 && form_.Msg->Caption().endsWith("CUSTOMER.DB") && picture.isNull()) {
      picture = form_.grab().toImage();
      caption = form_.Msg->Caption();
      max = form_.Msg->Max();
    }
  };
  // Whatever the corpus tables give to report is acknowledged.
  Copy(Path("cil.mdb"), {deep + "czech852.dbf", deep + "CUSTOMER.DB"}, {Click("OK")});
  EXPECT_TRUE(errors_.Messages().empty()) << errors_.Messages().front();
  ASSERT_FALSE(picture.isNull());

  // The caption was shortened to the gauge: leading folders gave way to "...", the name whole.
  const std::string full = (deep + "CUSTOMER.DB").toStdString();
  EXPECT_NE(caption.toStdString(), full);
  EXPECT_TRUE(caption.contains("...")) << caption.toStdString();
  EXPECT_LE(QFontMetrics(form_.font()).horizontalAdvance(caption), form_.Msg->width());
  EXPECT_EQ(max, 20);  // part way: 10 of 20

  const QString out = QStringLiteral(DATOVRAT_BUILD_DIR "/images/app");
  QDir().mkpath(out);
  const QString file = out + "/main_window_copying.png";
  ASSERT_TRUE(picture.save(file, "PNG"));
  const QImage back(file);
  EXPECT_EQ(back.size(), form_.size());
  // The gauge's filled part (white) reaches about half way along its strip, the rest is the
  // button face.
  const QRect gauge = form_.Msg->geometry();
  const int y = gauge.top() + gauge.height() - 3;  // below the caption's text
  const QColor filled = back.pixelColor(gauge.left() + gauge.width() / 4, y);
  const QColor empty = back.pixelColor(gauge.left() + gauge.width() * 3 / 4, y);
  EXPECT_EQ(filled, QColor(Qt::white));
  EXPECT_NE(empty, QColor(Qt::white));
}

}  // namespace
}  // namespace app
