// Editing: append, insert, edit, post, cancel and delete through DAO, with the error events.
#include <gtest/gtest.h>

#include "core/datetime.h"
#include "table_fixture.h"

namespace daotabletest {
namespace {

class EditTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    MakeTable("T", {{"ID", dao::dbLong, -1, dao::dbAutoIncrField},
                    {"NAME", dao::dbText, 10},
                    {"QTY", dao::dbLong},
                    {"WHEN", dao::dbDate},
                    {"RAW", dao::dbBinary, 4},
                    {"G", dao::dbGUID}});
    Dao().TableDefs().Item("T")->Fields().Item("QTY")->SetDefaultValue("5");
  }
};

TEST_F(EditTest, AppendingNothingLeavesEveryColumnToItsDefault) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Append();
  t->Post();
  auto rows = ReadRows("T");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].ToLong(), 1);
  EXPECT_TRUE(rows[0][1].IsNull());
  EXPECT_EQ(rows[0][2].ToLong(), 5);
  EXPECT_EQ(t->FieldByName("QTY").AsInteger(), 5);
  EXPECT_EQ(t->FieldByName("ID").AsInteger(), 1);

  // A DefaultExpression of the field object is written (it is marked changed).
  t->FieldByName("NAME").SetDefaultExpression("'pevné'");
  t->Append();
  t->Post();
  EXPECT_EQ(ReadRows("T")[1][1].ToString(), "pevné");
}

TEST_F(EditTest, PostingWritesChangedValuesOnly) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Append();
  t->FieldByName("ID").SetAsInteger(77);  // read-only auto-increment: ignored
  t->FieldByName("NAME").SetAsString("");
  t->FieldByName("QTY").SetAsInteger(3);
  t->FieldByName("WHEN").SetAsDateTime(core::EncodeDateTime({2024, 2, 29, 23, 59, 58}));
  t->FieldByName("RAW").SetAsString(std::string("\x01\x00\xff\x7f", 4));
  std::uint8_t guid[16];
  for (int i = 0; i < 16; ++i) guid[i] = static_cast<std::uint8_t>(i * 17);
  t->FieldByName("G").SetData(guid);
  t->Post();
  EXPECT_EQ(t->State(), ds::dsBrowse);
  auto row = ReadRows("T").at(0);
  EXPECT_EQ(row[0].ToLong(), 1);
  EXPECT_TRUE(row[1].IsNull());  // an empty text is Null, not a zero-length string
  EXPECT_EQ(row[2].ToLong(), 3);
  EXPECT_EQ(core::FormatDateTimeText(row[3].ToDate()), "2024-02-29 23:59:58");
  EXPECT_EQ(row[4].Bytes(), (std::vector<std::uint8_t>{1, 0, 255, 127}));
  EXPECT_EQ(row[5].ToString(), "{guid {33221100-5544-7766-8899-AABBCCDDEEFF}}");

  // Edit re-reads the record, writes only what changes.
  AddRows("T", {{{}, core::Variant("b"), core::Variant(9)}});
  t->First();
  t->Edit();
  t->FieldByName("QTY").SetAsInteger(4);
  // A date text that does not convert is not written at all.
  auto* values = TMxDaoTable::RecInfo(t->GetActiveRecordBuffer()).Values;
  (*values)[3].Text = "garbage";
  (*values)[3].Changed = true;
  t->Post();
  row = ReadRows("T").at(0);
  EXPECT_EQ(row[2].ToLong(), 4);
  EXPECT_EQ(core::FormatDateTimeText(row[3].ToDate()), "2024-02-29 23:59:58");
  EXPECT_EQ(t->FieldByName("QTY").AsInteger(), 4);
}

TEST_F(EditTest, CancelIssuesNoDaoCallForAnInsertAndUndoesAnEdit) {
  AddRows("T", {{{}, core::Variant("a"), core::Variant(1)}});
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Append();
  t->FieldByName("NAME").SetAsString("zz");
  t->Cancel();
  EXPECT_EQ(t->Intf()->EditMode(), dao::dbEditNone);
  t->Edit();
  EXPECT_EQ(t->Intf()->EditMode(), dao::dbEditInProgress);
  t->FieldByName("NAME").SetAsString("changed");
  t->Cancel();
  EXPECT_EQ(t->Intf()->EditMode(), dao::dbEditNone);
  EXPECT_EQ(t->FieldByName("NAME").AsString(), "a");
  EXPECT_EQ(ReadRows("T").size(), 1u);
  EXPECT_EQ(ReadRows("T")[0][1].ToString(), "a");
}

TEST_F(EditTest, PostErrorEventAnswers) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  std::vector<std::string> messages;
  ds::TDataAction answer = ds::daAbort;
  t->OnPostError = [&](ds::TDataSet*, core::Exception& e, ds::TDataAction& action) {
    messages.push_back(e.what());
    EXPECT_EQ(action, ds::daFail);
    action = answer;
    if (answer == ds::daRetry) {
      // Put the value right and let the post run again.
      auto* values = TMxDaoTable::RecInfo(t->GetActiveRecordBuffer()).Values;
      (*values)[1].Text = "short";
      answer = ds::daFail;
    }
  };
  // Abort: the pending add is cancelled, Post returns, nothing is stored.
  t->Append();
  t->FieldByName("QTY").SetAsInteger(1);
  auto* values = TMxDaoTable::RecInfo(t->GetActiveRecordBuffer()).Values;
  (*values)[1] = {"far too long for ten", true};
  t->Post();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(t->State(), ds::dsBrowse);
  EXPECT_EQ(t->Intf()->EditMode(), dao::dbEditNone);
  EXPECT_TRUE(ReadRows("T").empty());

  // Retry: AddNew again and every changed value written again.
  answer = ds::daRetry;
  t->Append();
  t->FieldByName("QTY").SetAsInteger(2);
  values = TMxDaoTable::RecInfo(t->GetActiveRecordBuffer()).Values;
  (*values)[1] = {"far too long for ten", true};
  t->Post();
  auto rows = ReadRows("T");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1].ToString(), "short");
  EXPECT_EQ(rows[0][2].ToLong(), 2);

  // Without an event the error propagates, the add is cancelled and the values stay.
  t->OnPostError = nullptr;
  t->Append();
  t->FieldByName("NAME").SetAsString("x");
  values = TMxDaoTable::RecInfo(t->GetActiveRecordBuffer()).Values;
  (*values)[1].Text = "far too long for ten";
  EXPECT_THROW(t->Post(), core::EOleException);
  EXPECT_EQ(t->State(), ds::dsInsert);
  EXPECT_EQ(t->Intf()->EditMode(), dao::dbEditNone);
  t->FieldByName("NAME").SetAsString("ok");
  t->Post();
  EXPECT_EQ(ReadRows("T").size(), 2u);
}

TEST_F(EditTest, DeleteMovesOnAndShrugsOffARecordDeletedMeanwhile) {
  AddRows("T", {{{}, core::Variant("a")}, {{}, core::Variant("b")}, {{}, core::Variant("c")}});
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Delete();  // not the last: the next record becomes current
  EXPECT_EQ(t->FieldByName("NAME").AsString(), "b");
  t->Last();
  t->Delete();  // the last: the new last record
  EXPECT_EQ(t->FieldByName("NAME").AsString(), "b");
  EXPECT_EQ(t->RecordCount(), 1);

  // Someone else deletes the row first (DAO answers 3167): no error without an event.
  auto rs = Dao().OpenRecordset("T", dao::dbOpenDynaset);
  rs->Delete();
  rs->Close();
  EXPECT_NO_THROW(t->Delete());
  EXPECT_TRUE(ReadRows("T").empty());
}

TEST_F(EditTest, DeleteErrorEventSeesDaoDescription) {
  AddRows("T", {{{}, core::Variant("a")}});
  TMxDaoTable* t = NewTable("T");
  t->Open();
  auto rs = Dao().OpenRecordset("T", dao::dbOpenDynaset);
  rs->Delete();
  rs->Close();
  std::string seen;
  t->OnDeleteError = [&](ds::TDataSet*, core::Exception& e, ds::TDataAction& action) {
    seen = e.what();
    action = ds::daAbort;
  };
  EXPECT_NO_THROW(t->Delete());
  EXPECT_EQ(seen, dao::ErrorText(3167));
}

TEST_F(EditTest, RefreshRecoversWhenTheCurrentRecordWasDeletedElsewhere) {
  AddRows("T", {{{}, core::Variant("a")}, {{}, core::Variant("b")}, {{}, core::Variant("c")}});
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->Next();
  ASSERT_EQ(t->FieldByName("NAME").AsString(), "b");
  auto rs = Dao().OpenRecordset("T", dao::dbOpenDynaset);
  rs->MoveNext();
  rs->Delete();
  rs->Close();
  EXPECT_NO_THROW(t->Refresh());
  EXPECT_EQ(t->State(), ds::dsBrowse);
  EXPECT_EQ(t->FieldByName("NAME").AsString(), "c");
  EXPECT_EQ(t->RecordCount(), 2);
}

}  // namespace
}  // namespace daotabletest
