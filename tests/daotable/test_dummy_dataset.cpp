// The dummy dataset: owner of free-standing definitions that nothing may refresh.
#include <gtest/gtest.h>

#include <memory>

#include "daotable/dummy_dataset.h"
#include "platform/hooks.h"

namespace {

using namespace ds;
using daotable::TDummyDataset;

// A probe that exposes the protected dataset operations for checking.
class Probe : public TDummyDataset {
 public:
  using TDummyDataset::AllocRecordBuffer;
  using TDummyDataset::GetBookmarkFlag;
  using TDummyDataset::GetCanModify;
  using TDummyDataset::GetRecord;
  using TDummyDataset::GetRecordSize;
  using TDummyDataset::InternalHandleException;
  using TDummyDataset::IsCursorOpen;
  using TDummyDataset::TDummyDataset;
};

TEST(DummyDataset, DefinitionsStayExactlyAsAdded) {
  auto dummy = std::make_unique<TDummyDataset>();
  TFieldDefs fields(dummy.get());
  TIndexDefs indexes(dummy.get());
  fields.Add("ID", ftAutoInc, 0, true);
  fields.Add("NAME", ftString, 40);
  indexes.Add("PK", "ID", {ixPrimary});
  fields.Update();  // asks the dataset, which has nothing to put there
  indexes.Update();
  dummy->FieldDefs().Update();
  ASSERT_EQ(fields.Count(), 2);
  EXPECT_EQ(fields[0].Name(), "ID");
  EXPECT_TRUE(fields[0].Required());
  EXPECT_EQ(fields[1].Size(), 40);
  EXPECT_EQ(indexes.Count(), 1);
  EXPECT_EQ(dummy->FieldDefs().Count(), 0);
  EXPECT_EQ(fields.DataSet(), dummy.get());
}

TEST(DummyDataset, ReportsNoCursorNoRecordsAndNoChanges) {
  Probe dummy;
  EXPECT_FALSE(dummy.IsCursorOpen());
  EXPECT_EQ(dummy.RecordCount(), -1);
  EXPECT_EQ(dummy.RecNo(), -1);
  EXPECT_FALSE(dummy.CanModify());
  EXPECT_FALSE(dummy.GetCanModify());
  EXPECT_EQ(dummy.Bookmark(), "");
  EXPECT_EQ(dummy.AllocRecordBuffer(), nullptr);
  EXPECT_EQ(dummy.GetRecordSize(), 0);
  EXPECT_EQ(dummy.GetBookmarkFlag(nullptr), bfCurrent);
  EXPECT_EQ(dummy.GetRecord(nullptr, gmNext, true), grOK);
  EXPECT_FALSE(dummy.Locate("ID", Variant(1), {}));
  EXPECT_TRUE(dummy.Lookup("ID", Variant(1), "NAME").IsNull());
  EXPECT_EQ(dummy.CreateBlobStream(nullptr, bmRead), nullptr);
  EXPECT_FALSE(dummy.GetFieldData(nullptr, nullptr));
  EXPECT_EQ(dummy.CompareBookmarks({1}, {2}), 0);

  // Its data events change nothing: a property-change notice leaves the definitions marked
  // up to date (a real dataset would mark them for rebuilding).
  dummy.FieldDefs().SetUpdated(true);
  dummy.DataEvent(dePropertyChange, 0);
  EXPECT_TRUE(dummy.FieldDefs().Updated());
}

TEST(DummyDataset, PendingErrorGoesToTheApplicationHandler) {
  std::vector<std::string> shown;
  platform::Hooks hooks;
  hooks.handle_exception = [&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      shown.push_back(x.what());
    }
  };
  platform::Hooks previous = platform::InstallHooks(hooks);
  Probe dummy;
  try {
    throw core::EDatabaseError("boom");
  } catch (...) {
    dummy.InternalHandleException();
  }
  platform::InstallHooks(previous);
  EXPECT_EQ(shown, (std::vector<std::string>{"boom"}));
}

}  // namespace
