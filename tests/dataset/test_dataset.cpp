// The dataset state machine, buffer ring, navigation, editing, events, bookmarks, searching and
// filtering, driven through the in-memory dataset; the recording dataset shows which dataset
// operations the framework calls and in which state.
#include <gtest/gtest.h>

#include "memory_dataset.h"

namespace dstest {
namespace {

// A link that asks for a window of several records, as a grid would.
class WindowLink : public TDataLink {
 public:
  explicit WindowLink(int count) { SetBufferCount(count); }
  int changes = 0;
  int scrolls = 0;

 protected:
  void DataSetChanged() override { ++changes; }
  void DataSetScrolled(int) override { ++scrolls; }
};

void MakeTable(TMemoryDataset& ds, int rows) {
  ds.Schema().Add("ID", ftInteger, 0, true);
  ds.Schema().Add("NAME", ftString, 10);
  std::vector<std::vector<Variant>> values;
  for (int i = 1; i <= rows; ++i) values.push_back({Variant(i), Variant("n" + std::to_string(i))});
  Fill(ds, values);
}

std::vector<int> WalkForward(TDataSet& ds) {
  std::vector<int> ids;
  for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID").AsInteger());
  return ids;
}

std::vector<int> WalkBackward(TDataSet& ds) {
  std::vector<int> ids;
  for (ds.Last(); !ds.Bof(); ds.Prior()) ids.push_back(ds.FieldByName("ID").AsInteger());
  return ids;
}

class RingSizes : public ::testing::TestWithParam<int> {};

// Every ring size must show the same records in the same order, whatever the window.
TEST_P(RingSizes, NavigationSeesEveryRecordInOrder) {
  TMemoryDataset ds;
  MakeTable(ds, 7);
  TDataSource source;
  WindowLink link(GetParam());
  source.SetDataSet(&ds);
  link.SetDataSource(&source);
  EXPECT_EQ(ds.BufferCount(), GetParam());

  EXPECT_EQ(WalkForward(ds), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(WalkBackward(ds), (std::vector<int>{7, 6, 5, 4, 3, 2, 1}));

  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.MoveBy(4), 4);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 5);
  EXPECT_EQ(ds.RecNo(), 5);
  EXPECT_EQ(ds.MoveBy(10), 2);  // stops at the last record
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 7);
  EXPECT_EQ(ds.MoveBy(-3), -3);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 4);
  EXPECT_EQ(ds.MoveBy(-10), -3);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecordCount(), 7);
  EXPECT_LE(link.ActiveRecord(), GetParam() - 1);
  EXPECT_GE(link.ActiveRecord(), 0);

  // Edits in the middle of a full ring land on the right record.
  ds.SetRecNo(6);
  ds.Edit();
  ds.FieldByName("NAME").SetAsString("six");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 6);
  ds.SetRecNo(3);
  ds.Insert();
  ds.FieldByName("ID").SetAsInteger(30);
  ds.Post();
  EXPECT_EQ(WalkForward(ds), (std::vector<int>{1, 2, 30, 3, 4, 5, 6, 7}));
  ds.Locate("ID", Variant(6), {});
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "six");
  ds.Delete();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 7);
  ds.Delete();  // the last one: the new last record becomes current
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 5);
  EXPECT_EQ(WalkForward(ds), (std::vector<int>{1, 2, 30, 3, 4, 5}));
}

INSTANTIATE_TEST_SUITE_P(Dataset, RingSizes, ::testing::Values(1, 2, 3, 10));

TEST(Dataset, EmptyAndClosedDatasets) {
  TMemoryDataset ds;
  ds.Schema().Add("ID", ftInteger);
  EXPECT_THROW(ds.First(), EDatabaseError);
  EXPECT_THROW(ds.Append(), EDatabaseError);
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.RecNo(), -1);
  EXPECT_TRUE(ds.FieldByName("ID").IsNull());
  EXPECT_THROW(ds.Delete(), EDatabaseError);
  EXPECT_THROW(ds.FieldByName("ID").SetAsInteger(1), EDatabaseError);  // not editing
  EXPECT_THROW(ds.FieldByName("NOPE"), EDatabaseError);
  EXPECT_THROW(ds.Schema().Add("id", ftInteger), EDatabaseError);  // names are unique, any case
  ds.Edit();  // Edit on an empty dataset inserts
  EXPECT_EQ(ds.State(), dsInsert);
  ds.Cancel();
  EXPECT_TRUE(ds.IsEmpty());
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);  // default fields go with the cursor
  EXPECT_EQ(ds.live_buffers, 0);
}

TEST(Dataset, AppendPostCancelAndBrowseModeCheck) {
  TMemoryDataset ds;
  MakeTable(ds, 2);
  ds.Append();
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_TRUE(ds.FieldByName("ID").IsNull());
  ds.FieldByName("ID").SetAsInteger(3);
  EXPECT_TRUE(ds.Modified());
  ds.Post();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(ds.Rows().size(), 3u);

  // A required field left null refuses the post and keeps the insert.
  ds.Append();
  ds.FieldByName("NAME").SetAsString("x");
  EXPECT_THROW(ds.Post(), EDatabaseError);
  EXPECT_EQ(ds.State(), dsInsert);
  ds.Cancel();
  EXPECT_EQ(ds.Rows().size(), 3u);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);

  // Moving away posts a modified record and cancels an untouched one.
  ds.First();
  ds.Edit();
  ds.FieldByName("NAME").SetAsString("first");
  ds.Next();
  EXPECT_EQ(ds.Rows()[0].values[1].value(), "first");
  ds.Append();
  ds.First();
  EXPECT_EQ(ds.Rows().size(), 3u);
  // Cancel brings the stored values back.
  ds.Edit();
  ds.FieldByName("NAME").SetAsString("changed");
  EXPECT_EQ(ds.FieldByName("NAME").OldValue().ToString(), "first");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME").AsString(), "first");
  EXPECT_THROW(ds.Post(), EDatabaseError);  // nothing to post while browsing

  ds.read_only = true;
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  EXPECT_THROW(ds.Append(), EDatabaseError);
  EXPECT_THROW(ds.Delete(), EDatabaseError);
}

TEST(Dataset, FrameworkCallsDatasetOperationsInOrder) {
  TRecordingDataset ds;
  MakeTable(ds, 2);
  ds.Last();

  ds.Clear();
  ds.Append();
  EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalInitRecord@browse"}));

  ds.FieldByName("ID").SetAsInteger(3);
  ds.Clear();
  ds.Post();
  // The appended buffer puts the cursor at the end, the post runs in the insert state, then the
  // ring is refilled from the cursor while browsing.
  EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalLast@insert", "InternalPost@insert",
                                              "GetRecord(current)@browse"}));

  ds.Clear();
  ds.Edit();
  ASSERT_FALSE(ds.log.empty());
  EXPECT_EQ(ds.log.back(), "InternalEdit@browse");
  ds.FieldByName("NAME").SetAsString("x");
  ds.Clear();
  ds.Cancel();
  EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalCancel@edit", "GetRecord(current)@browse"}));

  ds.Edit();
  ds.FieldByName("NAME").SetAsString("y");
  ds.Clear();
  ds.Post();
  EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalPost@edit", "GetRecord(current)@browse"}));

  ds.First();
  ds.Clear();
  ds.Delete();
  EXPECT_EQ(ds.log.front(), "InternalDelete@browse");
  EXPECT_EQ(ds.log.at(1), "GetRecord(current)@browse");

  ds.Clear();
  ds.Refresh();
  EXPECT_EQ(ds.log.front(), "InternalRefresh@browse");

  ds.Clear();
  ds.Insert();
  EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalInitRecord@browse"}));
  ds.FieldByName("ID").SetAsInteger(9);
  ds.Clear();
  ds.Post();
  EXPECT_EQ(ds.log.front(), "InternalSetToRecord@insert");
  EXPECT_EQ(ds.log.at(1), "InternalPost@insert");

  ds.Clear();
  ds.Close();
  EXPECT_EQ(ds.log, (std::vector<std::string>{"InternalClose@inactive"}));
}

TEST(Dataset, EventsFireAroundOperations) {
  TMemoryDataset ds;
  ds.Schema().Add("ID", ftInteger);
  std::vector<std::string> events;
  auto note = [&](const char* name) {
    return [&events, name](TDataSet*) { events.push_back(name); };
  };
  ds.BeforeOpen = note("BeforeOpen");
  ds.AfterOpen = note("AfterOpen");
  ds.BeforeInsert = note("BeforeInsert");
  ds.AfterInsert = note("AfterInsert");
  ds.OnNewRecord = [&](TDataSet* d) {
    events.push_back("OnNewRecord");
    d->FieldByName("ID").SetAsInteger(42);  // defaults set here do not count as a change
  };
  ds.BeforePost = note("BeforePost");
  ds.AfterPost = note("AfterPost");
  ds.BeforeScroll = note("BeforeScroll");
  ds.AfterScroll = note("AfterScroll");
  ds.BeforeClose = note("BeforeClose");
  ds.AfterClose = note("AfterClose");
  ds.Open();
  ds.Append();
  EXPECT_FALSE(ds.Modified());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 42);
  ds.Post();
  ds.Close();
  EXPECT_EQ(events,
            (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeInsert", "BeforeScroll",
                                      "OnNewRecord", "AfterInsert", "AfterScroll", "BeforePost",
                                      "AfterPost", "BeforeClose", "AfterClose"}));

  // An error in BeforeOpen leaves the dataset closed.
  ds.BeforeOpen = [](TDataSet*) { ds::DatabaseError("no"); };
  EXPECT_THROW(ds.Open(), EDatabaseError);
  EXPECT_FALSE(ds.Active());
}

// A dataset whose cursor opens half-way and then fails, and whose closing can fail as well.
class HalfOpening : public TMemoryDataset {
 public:
  using TMemoryDataset::TMemoryDataset;
  ~HalfOpening() override {
    fail_close = false;
    Destroying();
    Close();
  }
  bool fail_open = false;
  bool fail_close = false;
  int closes = 0;

 protected:
  void InternalOpen() override {
    TMemoryDataset::InternalOpen();
    if (fail_open) ds::DatabaseError("the cursor broke");
  }
  void InternalClose() override {
    ++closes;
    TMemoryDataset::InternalClose();
    if (fail_close) ds::DatabaseError("closing broke too");
  }
};

TEST(Dataset, AnOpenThatFailsClosesTheHalfOpenCursorAndReportsWhyItFailed) {
  const struct {
    const char* name;
    bool fail_open, fail_close;
    int closes;
  } cases[] = {
      {"opens", false, false, 0},
      {"open fails", true, false, 1},
      {"open and the closing after it fail", true, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HalfOpening ds;
    ds.Schema().Add("ID", ftInteger);
    ds.fail_open = c.fail_open;
    ds.fail_close = c.fail_close;
    if (c.fail_open) {
      try {
        ds.Open();
        ADD_FAILURE() << "opened";
      } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "the cursor broke");
      }
      EXPECT_FALSE(ds.Active());
      EXPECT_EQ(ds.FieldCount(), 0);  // the default fields made while opening are gone again
    } else {
      ds.Open();
      EXPECT_TRUE(ds.Active());
    }
    EXPECT_EQ(ds.closes, c.closes);
    // Nothing is left over that stops the next attempt.
    ds.fail_open = ds.fail_close = false;
    if (!ds.Active()) ds.Open();
    EXPECT_EQ(ds.FieldCount(), 1);
    EXPECT_EQ(ds.State(), dsBrowse);
  }
}

TEST(Dataset, AnErrorInAFilterOrCalcHandlerLeavesTheStateAsItWas) {
  TMemoryDataset ds;
  ds.Schema().Add("ID", ftInteger);
  auto* id = new TIntegerField(&ds);
  id->SetFieldName("ID");
  id->SetDataSet(&ds);
  auto* twice = new TIntegerField(&ds);
  twice->SetFieldName("TWICE");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(&ds);
  bool fail_calc = false;
  bool fail_filter = false;
  ds.OnCalcFields = [&](TDataSet* d) {
    if (fail_calc && d->FieldByName("ID").AsInteger() == 3) ds::DatabaseError("calc broke");
    d->FieldByName("TWICE").SetAsInteger(2 * d->FieldByName("ID").AsInteger());
  };
  Fill(ds, {{Variant(1)}, {Variant(2)}, {Variant(3)}, {Variant(4)}});
  ds.SetOnFilterRecord([&](TDataSet* d, bool& accept) {
    if (fail_filter && d->FieldByName("ID").AsInteger() == 3) ds::DatabaseError("filter broke");
    accept = true;
  });
  ds.SetFiltered(true);
  for (bool* fail : {&fail_calc, &fail_filter}) {
    ds.First();
    *fail = true;
    EXPECT_THROW(
        {
          while (!ds.Eof()) ds.Next();
        },
        EDatabaseError);
    *fail = false;
    EXPECT_EQ(ds.State(), dsBrowse);
    // Values are read from the current record again, and the handlers run as before.
    EXPECT_EQ(twice->AsInteger(), 2 * id->AsInteger());
    ds.Last();
    EXPECT_EQ(id->AsInteger(), 4);
    EXPECT_EQ(twice->AsInteger(), 8);
  }
}

// Error events see the framework's own errors: fail raises, abort leaves quietly, retry runs the
// operation again.
TEST(Dataset, ErrorEventsFailAbortRetry) {
  struct Case {
    TDataAction first_answer;
    bool throws_database_error;
    bool throws_abort;
    int expected_calls;
    std::size_t expected_rows;
  };
  for (const Case& c : {Case{daFail, true, false, 1, 1u}, Case{daAbort, false, true, 1, 1u},
                        Case{daRetry, false, false, 2, 2u}}) {
    TMemoryDataset ds;
    MakeTable(ds, 1);
    int calls = 0;
    ds.OnPostError = [&](TDataSet* d, core::Exception& e, TDataAction& action) {
      ++calls;
      EXPECT_EQ(action, daFail);
      EXPECT_NE(std::string(e.what()).find("must have a value"), std::string::npos);
      action = c.first_answer;
      // Retry once unchanged (fails again), then fix the record and retry.
      if (action == daRetry && calls == 2) d->FieldByName("ID").SetAsInteger(5);
    };
    ds.Append();
    if (c.throws_database_error) {
      EXPECT_THROW(ds.Post(), EDatabaseError);
    } else if (c.throws_abort) {
      EXPECT_THROW(ds.Post(), EAbort);
    } else {
      ds.Post();
    }
    EXPECT_EQ(calls, c.expected_calls);
    EXPECT_EQ(ds.Rows().size(), c.expected_rows);
  }
}

TEST(Dataset, BookmarksSurviveEditsElsewhere) {
  TMemoryDataset ds;
  MakeTable(ds, 5);
  ds.SetRecNo(3);
  TBookmark third = ds.GetBookmark();
  ASSERT_EQ(third.size(), 4u);
  ds.First();
  TBookmark first = ds.GetBookmark();
  ds.Delete();  // shifts positions; bookmarks still name their records
  ds.GotoBookmark(third);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_THROW(ds.GotoBookmark(first), EDatabaseError);  // its record is gone
  EXPECT_EQ(ds.CompareBookmarks(first, third), -1);
  EXPECT_EQ(ds.CompareBookmarks(third, first), 1);
  EXPECT_EQ(ds.CompareBookmarks(third, third), 0);
  EXPECT_EQ(ds.CompareBookmarks({}, third), -1);
  ds.Last();
  TBookmarkStr as_text = ds.Bookmark();
  ds.First();
  ds.SetBookmark(as_text);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 5);
  ds.Append();
  EXPECT_TRUE(ds.GetBookmark().empty());  // a record not yet stored has none
  ds.Cancel();
}

TEST(Dataset, FilterRecordSkipsRefusedRecordsEverywhere) {
  TMemoryDataset ds;
  MakeTable(ds, 8);
  TDataSource source;
  WindowLink link(3);
  source.SetDataSet(&ds);
  link.SetDataSource(&source);
  int filter_calls_in_filter_state = 0;
  ds.SetOnFilterRecord([&](TDataSet* d, bool& accept) {
    filter_calls_in_filter_state += d->State() == dsFilter;
    accept = d->FieldByName("ID").AsInteger() % 2 == 0;
  });
  EXPECT_EQ(WalkForward(ds).size(), 8u);  // not filtered yet
  ds.SetFiltered(true);
  EXPECT_EQ(WalkForward(ds), (std::vector<int>{2, 4, 6, 8}));
  EXPECT_EQ(WalkBackward(ds), (std::vector<int>{8, 6, 4, 2}));
  EXPECT_EQ(ds.RecordCount(), 4);
  ds.SetRecNo(3);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 6);
  EXPECT_GT(filter_calls_in_filter_state, 0);
  EXPECT_FALSE(ds.Locate("ID", Variant(3), {}));
  EXPECT_TRUE(ds.Locate("ID", Variant(4), {}));
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 8);
}

TEST(Dataset, LocateLookupAndFind) {
  TMemoryDataset ds;
  ds.Schema().Add("ID", ftInteger);
  ds.Schema().Add("NAME", ftString, 20);
  ds.Schema().Add("BORN", ftDate);
  Fill(ds, {{Variant(1), Variant("Novák"), Variant::FromDate(36526)},
            {Variant(2), Variant("novotná"), Variant::Null()},
            {Variant(3), Variant::Null(), Variant::FromDate(0)}});
  int scrolls = 0;
  ds.AfterScroll = [&](TDataSet*) { ++scrolls; };
  struct Case {
    const char* fields;
    Variant keys;
    TLocateOptions options;
    int found_id;  // 0: not found
  };
  const Case cases[] = {
      {"NAME", Variant("Novák"), {}, 1},
      {"NAME", Variant("NOVÁK"), {}, 0},
      {"NAME", Variant("NOV"), {loCaseInsensitive, loPartialKey}, 1},
      {"NAME", Variant("novo"), {loPartialKey}, 2},
      {"NAME", Variant::Null(), {}, 3},
      {"ID;NAME", Variant::FromArray({Variant(2), Variant("novotná")}), {}, 2},
      {"ID;NAME", Variant::FromArray({Variant(2), Variant("Novák")}), {}, 0},
      {"BORN", Variant::FromDate(0), {}, 3},
      {"BORN", Variant::Null(), {}, 2},
      {"ID", Variant("3"), {}, 3},
      {"ID", Variant("x"), {}, 0},
  };
  for (const Case& c : cases) {
    ds.Last();
    scrolls = 0;
    bool found = ds.Locate(c.fields, c.keys, c.options);
    EXPECT_EQ(found, c.found_id != 0) << c.fields;
    EXPECT_EQ(ds.FieldByName("ID").AsInteger(), found ? c.found_id : 3) << c.fields;
    EXPECT_EQ(scrolls, found ? 1 : 0) << c.fields;
  }
  EXPECT_THROW(ds.Locate("ID;NAME", Variant(1), {}), EDatabaseError);
  EXPECT_THROW(ds.Locate("NOPE", Variant(1), {}), EDatabaseError);

  ds.First();
  Variant names = ds.Lookup("ID", Variant(2), "NAME;ID");
  ASSERT_TRUE(names.IsArray());
  EXPECT_EQ(names.Elements()[0].ToString(), "novotná");
  EXPECT_TRUE(ds.Lookup("ID", Variant(9), "NAME").IsNull());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);  // Lookup does not move

  ds.SetOnFilterRecord(
      [](TDataSet* d, bool& accept) { accept = d->FieldByName("ID").AsInteger() >= 2; });
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_FALSE(ds.FindNext());
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
}

TEST(Dataset, CalculatedAndLookupFields) {
  TMemoryDataset towns;
  towns.Schema().Add("CODE", ftInteger);
  towns.Schema().Add("TOWN", ftString, 20);
  Fill(towns, {{Variant(1), Variant("Brno")}, {Variant(2), Variant("Praha")}});

  TMemoryDataset people;
  people.Schema().Add("NAME", ftString, 20);
  people.Schema().Add("CODE", ftInteger);
  // Persistent fields: two data fields, a calculated one and a lookup one.
  auto* name = new TStringField(&people);
  name->SetFieldName("NAME");
  name->SetDataSet(&people);
  auto* code = new TIntegerField(&people);
  code->SetFieldName("CODE");
  code->SetDataSet(&people);
  auto* shout = new TStringField(&people);
  shout->SetFieldName("SHOUT");
  shout->SetFieldKind(fkCalculated);
  shout->SetDataSet(&people);
  auto* town = new TStringField(&people);
  town->SetFieldName("TOWN");
  town->SetFieldKind(fkLookup);
  town->SetLookupDataSet(&towns);
  town->SetKeyFields("CODE");
  town->SetLookupKeyFields("CODE");
  town->SetLookupResultField("TOWN");
  town->SetDataSet(&people);
  people.OnCalcFields = [](TDataSet* d) {
    d->FieldByName("SHOUT").SetAsString(d->FieldByName("NAME").AsString() + "!");
  };
  Fill(people, {{Variant("Eva"), Variant(2)}, {Variant("Jan"), Variant(1)}});
  EXPECT_EQ(people.FieldCount(), 4);
  EXPECT_EQ(shout->AsString(), "Eva!");
  EXPECT_EQ(town->AsString(), "Praha");
  people.Next();
  EXPECT_EQ(town->AsString(), "Brno");
  people.Edit();
  code->SetAsInteger(2);  // a change of a data field recomputes while editing
  EXPECT_EQ(town->AsString(), "Praha");
  people.Cancel();
  EXPECT_EQ(town->AsString(), "Brno");
  people.Close();
  EXPECT_EQ(people.FieldCount(), 4);  // persistent fields stay
}

TEST(Dataset, DisableControlsHoldsNotificationsUntilEnabled) {
  TMemoryDataset ds;
  MakeTable(ds, 4);
  TDataSource source;
  WindowLink link(1);
  source.SetDataSet(&ds);
  link.SetDataSource(&source);
  int data_changes = 0;
  source.OnDataChange = [&](TDataSource*, TField*) { ++data_changes; };
  ds.DisableControls();
  ds.DisableControls();
  EXPECT_TRUE(ds.ControlsDisabled());
  ds.Next();
  ds.Next();
  ds.EnableControls();
  EXPECT_EQ(data_changes, 0);
  ds.EnableControls();
  EXPECT_FALSE(ds.ControlsDisabled());
  EXPECT_EQ(data_changes, 1);  // one change notice for everything that happened
  ds.Next();
  EXPECT_EQ(data_changes, 2);
  source.SetEnabled(false);
  EXPECT_FALSE(link.Active());
  ds.Next();
  EXPECT_EQ(data_changes, 2);
}

TEST(Dataset, MasterLinkFollowsMasterAndRefusesCycles) {
  TMemoryDataset master;
  MakeTable(master, 3);
  TMemoryDataset detail;
  MakeTable(detail, 1);
  TDataSource master_source;
  master_source.SetDataSet(&master);
  TMasterDataLink link(&detail);
  std::vector<int> seen;
  link.OnMasterChange = [&](TComponent*) { seen.push_back(master.FieldByName("ID").AsInteger()); };
  int disabled = 0;
  link.OnMasterDisable = [&](TComponent*) { ++disabled; };
  link.SetFieldNames("ID");
  link.SetDataSource(&master_source);
  ASSERT_EQ(link.Fields().size(), 1u);
  EXPECT_EQ(link.Fields()[0], &master.FieldByName("ID"));
  master.Next();
  master.Next();
  master.Edit();
  master.FieldByName("NAME").SetAsString("x");  // not a link field: no change notice
  master.FieldByName("ID").SetAsInteger(33);    // a link field: notice
  master.Post();
  EXPECT_EQ(seen.front(), 1);
  EXPECT_NE(std::find(seen.begin(), seen.end(), 2), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), 33), seen.end());
  master.Close();
  EXPECT_GT(disabled, 0);
  EXPECT_TRUE(link.Fields().empty());

  // A detail whose master source shows itself is a cycle.
  class Detail : public TMemoryDataset {
   public:
    TDataSource* master = nullptr;
    TDataSource* GetDataSource() const override { return master; }
  } a, b;
  TDataSource sa, sb;
  sa.SetDataSet(&a);
  b.master = &sa;
  sb.SetDataSet(&b);
  EXPECT_TRUE(b.IsLinkedTo(&sb));
  EXPECT_TRUE(a.IsLinkedTo(&sb));
  EXPECT_FALSE(b.IsLinkedTo(&sa));
  Detail c;
  TDataSource sc;
  c.master = &sc;
  EXPECT_THROW(sc.SetDataSet(&c), EDatabaseError);
  EXPECT_EQ(sc.DataSet(), nullptr);
}

}  // namespace
}  // namespace dstest
