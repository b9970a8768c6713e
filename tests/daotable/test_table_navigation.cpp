// Navigation: cursor and scan positions, record counts and numbers, bookmarks.
#include <gtest/gtest.h>

#include "table_fixture.h"

namespace daotabletest {
namespace {

class NavigationTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    MakeTable("T", {{"N", dao::dbLong}});
    std::vector<std::vector<core::Variant>> rows;
    for (int i = 1; i <= 10; ++i) rows.push_back({core::Variant(i)});
    AddRows("T", rows);
    MakeTable("E", {{"N", dao::dbLong}});
  }
};

TEST_F(NavigationTest, EmptyRecordsetHasNoCountNumberOrPosition) {
  TMxDaoTable* t = NewTable("E");
  t->Open();
  EXPECT_TRUE(t->IsEmpty());
  EXPECT_EQ(t->RecordCount(), 0);
  EXPECT_EQ(t->RecNo(), -1);
  t->Last();
  EXPECT_EQ(t->CursorPosition(), -1);
}

TEST_F(NavigationTest, WalksBothWaysWithCountsAndNumbers) {
  for (int type : {1, 2, 4}) {
    TMxDaoTable* t = NewTable("T");
    t->SetTableType(type);
    t->Open();
    EXPECT_EQ(t->RecordCount(), 10) << type;
    std::vector<int> seen;
    for (t->First(); !t->Eof(); t->Next()) seen.push_back(t->FieldByName("N").AsInteger());
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10})) << type;
    t->Last();
    EXPECT_EQ(t->FieldByName("N").AsInteger(), 10);
    EXPECT_EQ(t->CursorPosition(), 9) << type;
    EXPECT_EQ(t->RecNo(), 10) << type;
    t->Prior();
    t->Prior();
    EXPECT_EQ(t->FieldByName("N").AsInteger(), 8);
    EXPECT_EQ(t->RecNo(), 8) << type;
    t->SetRecNo(3);
    EXPECT_EQ(t->FieldByName("N").AsInteger(), 3);
    EXPECT_EQ(t->RecNo(), 3) << type;
    delete t;
  }
}

TEST_F(NavigationTest, ForwardOnlyCountsNothingAndNumbersByPosition) {
  TMxDaoTable* t = NewTable("T");
  t->SetTableType(8);
  t->Open();
  EXPECT_EQ(t->RecordCount(), -1);
  EXPECT_EQ(t->FieldByName("N").AsInteger(), 1);
  EXPECT_EQ(t->RecNo(), 1);
  t->Next();
  t->Next();
  EXPECT_EQ(t->FieldByName("N").AsInteger(), 3);
  EXPECT_EQ(t->RecNo(), 3);
  t->Prior();  // forward-only: at beginning, nothing moves
  EXPECT_EQ(t->FieldByName("N").AsInteger(), 3);
  int n = 3;
  while (!t->Eof()) {
    t->Next();
    if (!t->Eof()) ++n;
  }
  EXPECT_EQ(n, 10);
}

TEST_F(NavigationTest, BookmarksReturnToTheirRecord) {
  TMxDaoTable* t = NewTable("T");
  t->Open();
  t->MoveBy(4);
  ds::TBookmark mark = t->GetBookmark();
  ASSERT_EQ(mark.size(), 4u);
  EXPECT_TRUE(t->BookmarkValid(mark));
  t->Last();
  t->GotoBookmark(mark);
  EXPECT_EQ(t->FieldByName("N").AsInteger(), 5);
  ds::TBookmarkStr s = t->Bookmark();
  t->First();
  t->SetBookmark(s);
  EXPECT_EQ(t->FieldByName("N").AsInteger(), 5);

  ds::TBookmark later = t->GetBookmark();
  t->Next();
  ds::TBookmark next = t->GetBookmark();
  EXPECT_EQ(t->CompareBookmarks(later, next), -1);
  EXPECT_EQ(t->CompareBookmarks(next, later), 1);
  EXPECT_EQ(t->CompareBookmarks(later, later), 0);
  EXPECT_EQ(t->CompareBookmarks({}, later), 1);  // a missing bookmark sorts last here
  EXPECT_EQ(t->CompareBookmarks(later, {}), -1);
  EXPECT_EQ(t->CompareBookmarks({}, {}), 0);

  // A value never handed out is refused even though DAO would take it.
  ds::TBookmark foreign = {0x63, 0, 0, 0};
  EXPECT_FALSE(t->BookmarkValid(foreign));
  EXPECT_EQ(ErrorText([&] { t->GotoBookmark(foreign); }), "Invalid Bookmark!");
  EXPECT_EQ(ErrorText([&] { t->GotoBookmark({0, 0, 0, 0}); }), "Bookmarks are not supported!");
}

TEST_F(NavigationTest, TableTypeCountFollowsAppendedRecords) {
  TMxDaoTable* t = NewTable("T");
  t->SetTableType(1);
  t->SetWarnOnBadDatabase(true);  // the snapshot count agrees: no repair message
  t->Open();
  EXPECT_EQ(t->RecordCount(), 10);
  EXPECT_EQ(t->KnownRecordCount(), 10);
  t->Append();
  t->FieldByName("N").SetAsInteger(11);
  t->Post();
  EXPECT_EQ(t->RecordCount(), 11);
  t->Last();
  EXPECT_EQ(t->CursorPosition(), 10);
  EXPECT_EQ(t->FieldByName("N").AsInteger(), 11);
  EXPECT_EQ(t->RecNo(), 11);
}

}  // namespace
}  // namespace daotabletest
