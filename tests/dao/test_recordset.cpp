// Recordset behaviour the table component relies on: positions and the BOF/EOF cracks,
// counts, bookmarks, deletes, editing, clones and requery, per recordset type. Expected values
// come from DAO's documented rules (BOF/EOF move table, RecordCount meaning per type,
// AbsolutePosition -1, PercentPosition's five-record example, 3167 vs 3021 after Delete).
#include "core/file.h"
#include "dao_test_util.h"

namespace {

using namespace dao;
using daotest::BookmarkKey;
using daotest::ErrorOf;
using daotest::ShortBookmark;

class RecordsetTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh("/t.mdb"); }

  // A database with the five-row table T and an empty table.
  void Fresh(const std::string& path) {
    engine_ = DBEngine::Create(&files_);
    db_ = engine_->CreateDatabase(path, dbLangGeneral, dbVersion40);
    daotest::CreateTable(*db_, "T", {{"ID", dbLong}, {"NAME", dbText, 50}, {"N", dbDouble}});
    daotest::CreateTable(*db_, "Empty", {{"ID", dbLong}});
    auto rs = db_->OpenRecordset("T", dbOpenDynaset);
    for (int i = 1; i <= 5; ++i) {
      rs->AddNew();
      rs->Fields().Item("ID")->SetValue(core::Variant(i));
      rs->Fields().Item("NAME")->SetValue(std::string_view(std::string(1, char('a' + i - 1))));
      rs->Fields().Item("N")->SetValue(core::Variant(i * 1.5));
      rs->Update();
    }
    rs->Close();
  }

  std::shared_ptr<Recordset> Open(int type, const std::string& table = "T") {
    return db_->OpenRecordset(table, type);
  }
  static int Id(Recordset& rs) { return rs.Fields().Item("ID")->Value().ToLong(); }

  core::MemoryFileSystem files_;
  std::shared_ptr<DBEngine> engine_;
  std::shared_ptr<Database> db_;
};

constexpr int kTypes[] = {dbOpenTable, dbOpenDynaset, dbOpenSnapshot};

TEST_F(RecordsetTest, MovesFollowTheBofEofTableAtBothCracks) {
  for (int type : kTypes) {
    SCOPED_TRACE(type);
    auto rs = Open(type);
    EXPECT_FALSE(rs->Bof());
    EXPECT_FALSE(rs->Eof());
    EXPECT_EQ(Id(*rs), 1);
    // Before the first record: BOF only; a second step back is an error and changes nothing.
    rs->MovePrevious();
    EXPECT_TRUE(rs->Bof());
    EXPECT_FALSE(rs->Eof());
    EXPECT_EQ(ErrorOf([&] { rs->MovePrevious(); }), err::kNoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->Move(0); }), err::kNoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->Move(-1); }), err::kNoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { Id(*rs); }), err::kNoCurrentRecord);
    EXPECT_TRUE(rs->Bof());
    rs->MoveNext();
    EXPECT_EQ(Id(*rs), 1);
    rs->MovePrevious();
    rs->Move(2);  // from the crack before the first record
    EXPECT_EQ(Id(*rs), 2);
    // After the last record: EOF only.
    rs->MoveLast();
    EXPECT_EQ(Id(*rs), 5);
    rs->MoveNext();
    EXPECT_FALSE(rs->Bof());
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), err::kNoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->Move(1); }), err::kNoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->Move(0); }), err::kNoCurrentRecord);
    rs->MovePrevious();
    EXPECT_EQ(Id(*rs), 5);
    rs->MoveNext();
    rs->Move(-2);
    EXPECT_EQ(Id(*rs), 4);
    // Overshooting is no error: it ends on the crack.
    rs->Move(-10);
    EXPECT_TRUE(rs->Bof());
    EXPECT_FALSE(rs->Eof());
    rs->MoveFirst();
    rs->Move(10);
    EXPECT_TRUE(rs->Eof());
    EXPECT_FALSE(rs->Bof());
    // A start bookmark works even from a crack.
    rs->MoveFirst();
    rs->MoveNext();
    core::Variant second = rs->Bookmark();
    rs->MoveLast();
    rs->MoveNext();
    rs->Move(1, second);
    EXPECT_EQ(Id(*rs), 3);
    rs->Move(-1, second);
    EXPECT_EQ(Id(*rs), 1);
  }
}

TEST_F(RecordsetTest, AnEmptyRecordsetRefusesEveryMove) {
  for (int type : {dbOpenTable, dbOpenDynaset, dbOpenSnapshot, dbOpenForwardOnly}) {
    SCOPED_TRACE(type);
    auto rs = Open(type, "Empty");
    EXPECT_TRUE(rs->Bof());
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_EQ(ErrorOf([&] { rs->MoveNext(); }), err::kNoCurrentRecord);
    EXPECT_EQ(ErrorOf([&] { rs->Fields().Item(0)->Value(); }), err::kNoCurrentRecord);
    if (type != dbOpenForwardOnly) {
      EXPECT_EQ(ErrorOf([&] { rs->MoveFirst(); }), err::kNoCurrentRecord);
      EXPECT_EQ(ErrorOf([&] { rs->MoveLast(); }), err::kNoCurrentRecord);
      EXPECT_EQ(ErrorOf([&] { rs->MovePrevious(); }), err::kNoCurrentRecord);
      EXPECT_EQ(ErrorOf([&] { rs->Bookmark(); }), err::kNoCurrentRecord);
    }
    EXPECT_TRUE(rs->Bof() && rs->Eof());
  }
}

TEST_F(RecordsetTest, ForwardOnlyGoesForwardOnly) {
  auto rs = Open(dbOpenForwardOnly);
  EXPECT_FALSE(rs->Bookmarkable());
  EXPECT_FALSE(rs->Updatable());
  EXPECT_EQ(Id(*rs), 1);
  EXPECT_EQ(ErrorOf([&] { rs->MovePrevious(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { rs->MoveFirst(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { rs->MoveLast(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { rs->Move(-1); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { rs->Bookmark(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { rs->Clone(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { rs->AbsolutePosition(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { rs->AddNew(); }), err::kNotSupported);
  rs->Move(2);
  EXPECT_EQ(Id(*rs), 3);
  int seen = 3;
  while (!rs->Eof()) {
    EXPECT_EQ(Id(*rs), seen++);
    rs->MoveNext();
  }
  EXPECT_EQ(seen, 6);
  EXPECT_EQ(rs->RecordCount(), 5);
}

TEST_F(RecordsetTest, RecordCountMeansWhatDaoSaysPerType) {
  // Table-type: exact from the start.
  auto table = Open(dbOpenTable);
  EXPECT_EQ(table->RecordCount(), 5);
  EXPECT_EQ(ErrorOf([&] { table->AbsolutePosition(); }), err::kNotSupported);
  // Dynaset and snapshot: the records accessed so far, never lowered by moving back.
  for (int type : {dbOpenDynaset, dbOpenSnapshot, dbOpenForwardOnly}) {
    SCOPED_TRACE(type);
    auto rs = Open(type);
    EXPECT_EQ(rs->RecordCount(), 1);
    rs->MoveNext();
    rs->MoveNext();
    EXPECT_EQ(rs->RecordCount(), 3);
    if (type == dbOpenForwardOnly) continue;
    EXPECT_EQ(rs->AbsolutePosition(), 2);
    rs->MoveFirst();
    EXPECT_EQ(rs->RecordCount(), 3);
    EXPECT_EQ(rs->AbsolutePosition(), 0);
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 5);
    EXPECT_EQ(rs->AbsolutePosition(), 4);
    rs->MoveNext();
    EXPECT_EQ(rs->AbsolutePosition(), -1);
    rs->SetAbsolutePosition(1);
    EXPECT_EQ(Id(*rs), 2);
    EXPECT_EQ(ErrorOf([&] { rs->SetAbsolutePosition(5); }), err::kInvalidArgument);
    EXPECT_EQ(ErrorOf([&] { rs->SetAbsolutePosition(-1); }), err::kInvalidArgument);
  }
}

TEST_F(RecordsetTest, PercentPositionMatchesTheFiveRecordExample) {
  auto rs = Open(dbOpenDynaset);
  rs->MoveLast();
  rs->SetPercentPosition(77.0f);
  EXPECT_FLOAT_EQ(rs->PercentPosition(), 80.0f);
  EXPECT_EQ(Id(*rs), 4);
  rs->MoveFirst();
  EXPECT_FLOAT_EQ(rs->PercentPosition(), 20.0f);
}

TEST_F(RecordsetTest, BookmarksAreUniqueStableAndLocalToTheirRecordset) {
  for (int type : kTypes) {
    SCOPED_TRACE(type);
    auto rs = Open(type);
    std::vector<core::Variant> marks;
    std::vector<std::uint32_t> keys;
    while (!rs->Eof()) {
      core::Variant b = rs->Bookmark();
      ASSERT_EQ(b.Type(), core::VarType::ByteArray);
      ASSERT_GE(b.Bytes().size(), 4u);
      EXPECT_NE(BookmarkKey(b), 0u);
      for (std::uint32_t k : keys) EXPECT_NE(k, BookmarkKey(b));
      keys.push_back(BookmarkKey(b));
      marks.push_back(b);
      rs->MoveNext();
    }
    ASSERT_EQ(marks.size(), 5u);
    // Full and four-byte forms both go back to their record, from any position.
    rs->SetBookmark(marks[3]);
    EXPECT_EQ(Id(*rs), 4);
    rs->SetBookmark(ShortBookmark(keys[1]));
    EXPECT_EQ(Id(*rs), 2);
    EXPECT_EQ(BookmarkKey(rs->Bookmark()), keys[1]);
    // Garbage and another recordset's bookmarks are refused.
    EXPECT_EQ(ErrorOf([&] { rs->SetBookmark(ShortBookmark(0)); }), err::kNotValidBookmark);
    EXPECT_EQ(ErrorOf([&] { rs->SetBookmark(ShortBookmark(0x7FFFFFFF)); }), err::kNotValidBookmark);
    EXPECT_EQ(ErrorOf([&] { rs->SetBookmark(core::Variant("x")); }), err::kNotValidBookmark);
    auto other = Open(type);
    EXPECT_EQ(ErrorOf([&] { rs->SetBookmark(other->Bookmark()); }), err::kNotValidBookmark);
    EXPECT_EQ(Id(*rs), 2);
    // A clone shares them.
    auto clone = rs->Clone();
    clone->SetBookmark(marks[4]);
    EXPECT_EQ(Id(*clone), 5);
  }
}

TEST_F(RecordsetTest, ADeletedRecordStaysCurrentUntilTheNextMove) {
  struct Case {
    int type;
    int read_error;
  };
  for (Case c :
       {Case{dbOpenTable, err::kRecordDeleted}, Case{dbOpenDynaset, err::kNoCurrentRecord}}) {
    SCOPED_TRACE(c.type);
    Fresh("/t" + std::to_string(c.type) + ".mdb");
    auto rs = Open(c.type);
    auto clone = rs->Clone();
    rs->MoveNext();
    rs->MoveNext();
    core::Variant third = rs->Bookmark();
    rs->Delete();
    EXPECT_FALSE(rs->Bof());
    EXPECT_FALSE(rs->Eof());
    EXPECT_EQ(ErrorOf([&] { Id(*rs); }), c.read_error);
    EXPECT_EQ(ErrorOf([&] { rs->Delete(); }), err::kRecordDeleted);
    EXPECT_EQ(ErrorOf([&] { rs->Edit(); }), c.read_error);
    // Through a clone or a bookmark the record is deleted for every type.
    EXPECT_EQ(ErrorOf([&] { clone->SetBookmark(third); }), err::kRecordDeleted);
    rs->MoveNext();
    EXPECT_EQ(Id(*rs), 4);
    rs->MovePrevious();
    EXPECT_EQ(Id(*rs), 2);
    EXPECT_EQ(ErrorOf([&] { rs->SetBookmark(third); }), err::kRecordDeleted);
    if (c.type == dbOpenDynaset) {
      rs->MoveLast();
      EXPECT_EQ(rs->RecordCount(), 4);
    } else {
      EXPECT_EQ(rs->RecordCount(), 4);
    }
  }
}

TEST_F(RecordsetTest, DeletingTheOnlyRecordLeavesTheFlagsUntilTheNextMove) {
  daotest::CreateTable(*db_, "One", {{"ID", dbLong}});
  auto rs = Open(dbOpenDynaset, "One");
  rs->AddNew();
  rs->Fields().Item("ID")->SetValue(core::Variant(7));
  rs->Update();
  // Adding to an empty recordset: BOF becomes False, EOF stays True.
  EXPECT_FALSE(rs->Bof());
  EXPECT_TRUE(rs->Eof());
  rs->MoveFirst();
  EXPECT_EQ(Id(*rs), 7);
  rs->Delete();
  EXPECT_FALSE(rs->Bof());
  EXPECT_FALSE(rs->Eof());
  rs->MoveFirst();
  EXPECT_TRUE(rs->Bof());
  EXPECT_TRUE(rs->Eof());
}

TEST_F(RecordsetTest, ADynasetSeesEditsAndDeletesButNotOthersNewRows) {
  auto dyn = Open(dbOpenDynaset);
  auto snap = Open(dbOpenSnapshot);
  core::Variant second_dyn, second_snap, third_dyn;
  dyn->MoveNext();
  second_dyn = dyn->Bookmark();
  dyn->MoveNext();
  third_dyn = dyn->Bookmark();
  auto on_third = dyn->Clone();
  on_third->SetBookmark(third_dyn);
  snap->MoveNext();
  second_snap = snap->Bookmark();
  EXPECT_EQ(snap->Fields().Item("NAME")->Value().ToString(), "b");

  auto writer = Open(dbOpenTable);
  writer->MoveNext();
  writer->Edit();
  writer->Fields().Item("NAME")->SetValue(std::string_view("B!"));
  writer->Update();
  writer->MoveNext();
  writer->Delete();  // the third record
  writer->AddNew();
  writer->Fields().Item("ID")->SetValue(core::Variant(6));
  writer->Update();

  // A row deleted by someone else since: 3167 through its bookmark and where it stood.
  EXPECT_EQ(ErrorOf([&] { on_third->Fields().Item("NAME")->Value(); }), err::kRecordDeleted);
  EXPECT_EQ(ErrorOf([&] { dyn->SetBookmark(third_dyn); }), err::kRecordDeleted);
  dyn->SetBookmark(second_dyn);
  EXPECT_EQ(dyn->Fields().Item("NAME")->Value().ToString(), "B!");
  snap->SetBookmark(second_snap);
  EXPECT_EQ(snap->Fields().Item("NAME")->Value().ToString(), "b");
  // The deleted row is skipped and no longer counted once reached; the new row is not there.
  dyn->MoveNext();
  EXPECT_EQ(Id(*dyn), 4);
  std::vector<int> ids;
  dyn->MoveFirst();
  while (!dyn->Eof()) {
    ids.push_back(Id(*dyn));
    dyn->MoveNext();
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 4, 5}));
  EXPECT_EQ(dyn->RecordCount(), 4);
  // Requery starts over and shows the new row.
  dyn->Requery();
  EXPECT_EQ(dyn->RecordCount(), 1);
  EXPECT_EQ(Id(*dyn), 1);
  dyn->MoveLast();
  EXPECT_EQ(dyn->RecordCount(), 5);
  EXPECT_EQ(Id(*dyn), 6);
  EXPECT_EQ(ErrorOf([&] { writer->Requery(); }), err::kNotSupported);
}

TEST_F(RecordsetTest, EditModeMovesThroughItsThreeStates) {
  auto rs = Open(dbOpenDynaset);
  auto name = rs->Fields().Item("NAME");
  EXPECT_EQ(rs->EditMode(), dbEditNone);
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }), err::kUpdateWithoutEdit);
  EXPECT_EQ(ErrorOf([&] { rs->CancelUpdate(); }), err::kUpdateWithoutEdit);
  EXPECT_EQ(ErrorOf([&] { name->SetValue(std::string_view("x")); }), err::kUpdateWithoutEdit);
  EXPECT_EQ(engine_->Errors().Item(0).Source, "DAO.Field");

  rs->Edit();
  EXPECT_EQ(rs->EditMode(), dbEditInProgress);
  name->SetValue(std::string_view("changed"));
  EXPECT_EQ(name->Value().ToString(), "changed");
  rs->CancelUpdate();
  EXPECT_EQ(rs->EditMode(), dbEditNone);
  EXPECT_EQ(name->Value().ToString(), "a");

  rs->Edit();
  name->SetValue(std::string_view("kept"));
  rs->Update();
  EXPECT_EQ(rs->EditMode(), dbEditNone);
  EXPECT_EQ(name->Value().ToString(), "kept");
  EXPECT_EQ(BookmarkKey(rs->LastModified()), BookmarkKey(rs->Bookmark()));

  // A move drops a pending edit without a word; so does Move 0.
  rs->Edit();
  name->SetValue(std::string_view("lost"));
  rs->MoveNext();
  EXPECT_EQ(rs->EditMode(), dbEditNone);
  rs->MovePrevious();
  EXPECT_EQ(name->Value().ToString(), "kept");
  rs->Edit();
  name->SetValue(std::string_view("lost too"));
  rs->Move(0);
  EXPECT_EQ(rs->EditMode(), dbEditNone);
  EXPECT_EQ(name->Value().ToString(), "kept");

  // AddNew, then Update: the old record is current again; LastModified is the new one.
  rs->MoveNext();
  rs->AddNew();
  EXPECT_EQ(rs->EditMode(), dbEditAdd);
  EXPECT_TRUE(name->Value().IsNull());
  rs->Fields().Item("ID")->SetValue(core::Variant(9));
  rs->Update();
  EXPECT_EQ(Id(*rs), 2);
  rs->SetBookmark(rs->LastModified());
  EXPECT_EQ(Id(*rs), 9);
  // Cancelling an AddNew writes nothing.
  rs->AddNew();
  rs->Fields().Item("ID")->SetValue(core::Variant(10));
  rs->CancelUpdate();
  rs->MoveLast();
  EXPECT_EQ(Id(*rs), 9);
}

TEST_F(RecordsetTest, ReadOnlyRecordsetsRefuseChanges) {
  auto snap = Open(dbOpenSnapshot);
  EXPECT_EQ(ErrorOf([&] { snap->Edit(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { snap->AddNew(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { snap->Delete(); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { snap->LastModified(); }), err::kNotSupported);
  auto ro = db_->OpenRecordset("T", dbOpenDynaset, dbReadOnly);
  EXPECT_FALSE(ro->Updatable());
  EXPECT_EQ(ErrorOf([&] { ro->Edit(); }), err::kReadOnly);
  EXPECT_EQ(ErrorOf([&] { ro->AddNew(); }), err::kReadOnly);
  EXPECT_EQ(ro->Fields().Item("NAME")->Attributes() & dbUpdatableField, 0);
  EXPECT_EQ(engine_->Errors().Item(0).Source, "DAO.Recordset");
  auto lock = db_->OpenRecordset("T", dbOpenDynaset, 0, dbReadOnly);
  EXPECT_EQ(ErrorOf([&] { lock->Delete(); }), err::kReadOnly);
}

TEST_F(RecordsetTest, ClonesHaveTheirOwnPosition) {
  auto rs = Open(dbOpenDynaset);
  auto clone = rs->Clone();
  EXPECT_EQ(ErrorOf([&] { Id(*clone); }), err::kNoCurrentRecord);
  clone->MoveLast();
  EXPECT_EQ(Id(*clone), 5);
  EXPECT_EQ(Id(*rs), 1);
  rs->MoveNext();
  EXPECT_EQ(Id(*clone), 5);
  // Closing one leaves the other open; changes through one show through the other.
  clone->Edit();
  clone->Fields().Item("NAME")->SetValue(std::string_view("via clone"));
  clone->Update();
  clone->Close();
  EXPECT_EQ(ErrorOf([&] { clone->MoveFirst(); }), err::kObjectInvalid);
  rs->MoveLast();
  EXPECT_EQ(rs->Fields().Item("NAME")->Value().ToString(), "via clone");
}

TEST_F(RecordsetTest, ClosedObjectsAnswer3420) {
  auto rs = Open(dbOpenDynaset);
  auto field = rs->Fields().Item("ID");
  rs->Close();
  EXPECT_EQ(ErrorOf([&] { field->Value(); }), err::kObjectInvalid);
  EXPECT_EQ(ErrorOf([&] { rs->Close(); }), err::kObjectInvalid);
  auto again = Open(dbOpenDynaset);
  db_->Close();
  EXPECT_EQ(ErrorOf([&] { again->MoveNext(); }), err::kObjectInvalid);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Count(); }), err::kObjectInvalid);
}

}  // namespace
