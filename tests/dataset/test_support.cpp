// Components, string lists, streams, field and index definitions, parameters.
#include <gtest/gtest.h>

#include "memory_dataset.h"

namespace dstest {
namespace {

class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::vector<std::string>* log, const char* name)
      : TComponent(owner), log_(log) {
    SetName(name);
  }
  ~Probe() override { log_->push_back("~" + Name()); }
  TComponent* watched = nullptr;
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == watched) {
      log_->push_back(Name() + " lost " + c->Name());
      watched = nullptr;
    }
  }
  void Loaded() override { log_->push_back(Name() + " loaded"); }

 private:
  std::vector<std::string>* log_;
};

TEST(Components, OwnerDestroysOwnedAndWatchersHearOfIt) {
  std::vector<std::string> log;
  auto* form = new Probe(nullptr, &log, "Form");
  auto* a = new Probe(form, &log, "A");
  auto* b = new Probe(form, &log, "B");
  auto* outsider = new Probe(nullptr, &log, "Outsider");
  outsider->watched = a;
  outsider->FreeNotification(a);
  b->watched = a;  // a sibling hears through the owner
  EXPECT_EQ(form->ComponentCount(), 2);
  EXPECT_EQ(form->FindComponent("b"), b);
  EXPECT_THROW(b->SetName("A"), EComponentError);
  EXPECT_THROW(b->SetName("1x"), EComponentError);
  delete a;
  EXPECT_EQ(log, (std::vector<std::string>{"~A", "Outsider lost A", "B lost A"}));
  EXPECT_EQ(form->ComponentCount(), 1);
  log.clear();
  form->BeginLoading();
  EXPECT_TRUE(form->ComponentState().Contains(csLoading));
  form->EndLoading();
  EXPECT_FALSE(form->ComponentState().Contains(csLoading));
  delete form;
  // The owner's own destructor body runs first, then it destroys what it owns.
  EXPECT_EQ(log, (std::vector<std::string>{"Form loaded", "~Form", "~B"}));
  delete outsider;
}

TEST(Components, DatasetOpensAfterLoadingWhenStoredActive) {
  TMemoryDataset ds;
  ds.Schema().Add("ID", ftInteger);
  ds.BeginLoading();
  ds.SetActive(true);  // stored value: applied when loading ends
  EXPECT_FALSE(ds.Active());
  ds.EndLoading();
  EXPECT_TRUE(ds.Active());
}

TEST(StringLists, NamesValuesTextAndCommaText) {
  TStringList list;
  list.SetText("a=1\r\nB=2\nc\rd=");
  EXPECT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Values("b"), "2");
  EXPECT_EQ(list.Names(0), "a");
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.ValueFromIndex(3), "");
  list.SetValues("A", "9");
  list.SetValues("new", "x");
  list.SetValues("B", "");  // deletes
  EXPECT_EQ(list.Text(), "A=9\r\nc\r\nd=\r\nnew=x\r\n");
  EXPECT_EQ(list.IndexOf("C"), 1);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("C"), -1);

  struct Case {
    const char* comma_text;
    std::vector<std::string> items;
    const char* written_back;
  };
  const Case cases[] = {
      {"a,b,c", {"a", "b", "c"}, "a,b,c"},
      {"a b, c", {"a", "b", "c"}, "a,b,c"},
      {"\"a b\",\"say \"\"hi\"\"\"", {"a b", "say \"hi\""}, "\"a b\",\"say \"\"hi\"\"\""},
      {"x,,y", {"x", "", "y"}, "x,,y"},
      {"x,", {"x", ""}, "x,"},
      {"", {}, ""},
      {"\"\"", {""}, "\"\""},
  };
  for (const Case& c : cases) {
    TStringList l;
    l.SetCommaText(c.comma_text);
    std::vector<std::string> got;
    for (int i = 0; i < l.Count(); ++i) got.push_back(l[i]);
    EXPECT_EQ(got, c.items) << c.comma_text;
    EXPECT_EQ(l.CommaText(), c.written_back) << c.comma_text;
  }
}

TEST(StringLists, ObjectSlotsSortingAndNotices) {
  TStringList list;
  int changes = 0;
  list.OnChange = [&](TStringList*) { ++changes; };
  int mark = 0;
  list.AddObject("b", &mark);
  list.Add("a");
  EXPECT_EQ(list.Objects(0), &mark);
  list.SetObjects(1, &mark);  // a mark is no content change
  EXPECT_EQ(changes, 2);
  list.BeginUpdate();
  list.Add("c");
  list.Add("d");
  list.EndUpdate();
  EXPECT_EQ(changes, 3);
  list.SetSorted(true);
  EXPECT_EQ(list.CommaText(), "a,b,c,d");
  EXPECT_EQ(list.Objects(1), &mark);  // the slot travels with its line
  EXPECT_EQ(list.Add("bb"), 2);
  EXPECT_THROW(list.Insert(0, "z"), EStringListError);
  EXPECT_THROW(list.Strings(99), EStringListError);
  TStringList copy;
  copy.Assign(list);
  EXPECT_TRUE(copy.Equals(list));
}

TEST(Streams, MemoryStreamAndCopies) {
  TMemoryStream s;
  s.WriteString("hello");
  s.Seek(10, soFromBeginning);
  s.WriteString("!");
  EXPECT_EQ(s.Size(), 11);
  EXPECT_EQ(s.DataString(), std::string("hello\0\0\0\0\0!", 11));
  s.SetPosition(20);
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0);
  EXPECT_THROW(s.ReadBuffer(&c, 1), EReadError);
  TMemoryStream big(std::string(200000, 'q'));
  big.SetPosition(5);
  TMemoryStream copy;
  EXPECT_EQ(copy.CopyFrom(big, 0), 200000);  // 0: the whole source from its start
  EXPECT_EQ(copy.DataString(), big.DataString());
  big.SetPosition(199990);
  TMemoryStream tail;
  EXPECT_EQ(tail.CopyFrom(big, 10), 10);
  EXPECT_THROW(tail.CopyFrom(big, 1), EReadError);
  s.SetSize(2);
  EXPECT_EQ(s.DataString(), "he");
}

TEST(Definitions, FieldTypeOrdinalsAreFixed) {
  // The ordinals travel in stored settings and DAO type mapping; these are the published ones.
  const std::pair<TFieldType, int> ordinals[] = {
      {ftUnknown, 0},   {ftString, 1},       {ftSmallint, 2}, {ftInteger, 3},    {ftWord, 4},
      {ftBoolean, 5},   {ftFloat, 6},        {ftCurrency, 7}, {ftBCD, 8},        {ftDate, 9},
      {ftTime, 10},     {ftDateTime, 11},    {ftBytes, 12},   {ftVarBytes, 13},  {ftAutoInc, 14},
      {ftBlob, 15},     {ftMemo, 16},        {ftGraphic, 17}, {ftFmtMemo, 18},   {ftParadoxOle, 19},
      {ftDBaseOle, 20}, {ftTypedBinary, 21}, {ftCursor, 22},  {ftFixedChar, 23}, {ftWideString, 24},
      {ftLargeint, 25}, {ftADT, 26},         {ftArray, 27},   {ftReference, 28}, {ftDataSet, 29},
      {ftOraBlob, 30},  {ftOraClob, 31},     {ftVariant, 32}, {ftInterface, 33}, {ftIDispatch, 34},
      {ftGuid, 35},     {ftTimeStamp, 36},   {ftFMTBcd, 37}};
  for (auto [type, ordinal] : ordinals) EXPECT_EQ(static_cast<int>(type), ordinal);
  EXPECT_EQ(TIndexOptions({ixPrimary, ixDescending, ixNonMaintained}).ToBits(), 0b100101u);
}

TEST(Definitions, FieldDefsAssignCopiesEverythingInOrder) {
  TMemoryDataset owner;
  TFieldDefs source(&owner);
  source.Add("NAME", ftString, 30, true).SetPrecision(3);
  TFieldDef& money = source.Add("MONEY", ftBCD, 2);
  money.SetPrecision(12);
  money.SetAttributes({faReadonly, faFixed});
  TFieldDef& adt = source.Add("ADDR", ftADT);
  adt.ChildDefs().Add("STREET", ftString, 40);
  adt.ChildDefs().Add("ZIP", ftInteger);
  EXPECT_THROW(source.Add("name", ftInteger), EDatabaseError);
  EXPECT_THROW(source.Add("", ftInteger), EDatabaseError);

  TMemoryDataset other;
  TFieldDefs dest(&other);
  dest.Add("OLD", ftInteger);
  dest.Assign(source);
  ASSERT_EQ(dest.Count(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(dest[i].Name(), source[i].Name());
    EXPECT_EQ(dest[i].DataType(), source[i].DataType());
    EXPECT_EQ(dest[i].Size(), source[i].Size());
    EXPECT_EQ(dest[i].Precision(), source[i].Precision());
    EXPECT_EQ(dest[i].Attributes(), source[i].Attributes());
    EXPECT_EQ(dest[i].FieldNo(), i + 1);
    EXPECT_EQ(dest[i].DataSet(), &other);
  }
  EXPECT_TRUE(dest[0].Required());
  ASSERT_TRUE(dest[2].HasChildDefs());
  EXPECT_EQ(dest[2].ChildDefs()[1].Name(), "ZIP");
  EXPECT_NE(&dest[2].ChildDefs(), &source[2].ChildDefs());  // a deep copy
  source[2].ChildDefs().Clear();
  EXPECT_EQ(dest[2].ChildDefs().Count(), 2);
  EXPECT_EQ(&dest.Find("money"), &dest[1]);
  EXPECT_THROW(dest.Find("nope"), EDatabaseError);

  // Definitions assigned to a dataset become its fields when it opens.
  TMemoryDataset table;
  table.Schema().Assign(dest);
  table.Schema().Delete(2);  // no field class for ADT
  table.Open();
  EXPECT_EQ(table.FieldCount(), 2);
  EXPECT_TRUE(table.FieldByName("NAME").Required());
  EXPECT_TRUE(table.FieldByName("MONEY").ReadOnly());
  table.Close();
  table.Schema().Add("ADDR", ftADT);
  EXPECT_THROW(table.Open(), EDatabaseError);
  EXPECT_FALSE(table.Active());
}

TEST(Definitions, IndexDefs) {
  TMemoryDataset owner;
  TIndexDefs defs(&owner);
  defs.Add("PK", "ID", {ixPrimary, ixUnique});
  defs.Add("BY_NAME", "NAME;CITY", {ixCaseInsensitive});
  defs.Add("BY_CITY", "CITY", {});
  EXPECT_THROW(defs.Add("pk", "X", {}), EDatabaseError);
  defs.Items(1).SetDescFields("CITY");
  TIndexDefs copy(&owner);
  copy.Assign(defs);
  ASSERT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy[1].Fields(), "NAME;CITY");
  EXPECT_EQ(copy[1].DescFields(), "CITY");
  EXPECT_EQ(copy[0].Options(), TIndexOptions({ixPrimary, ixUnique}));
  EXPECT_EQ(copy.GetIndexForFields("name", false), &copy[1]);
  EXPECT_EQ(copy.GetIndexForFields("NAME", true), &copy[1]);
  EXPECT_EQ(copy.GetIndexForFields("CITY", true), nullptr);
  EXPECT_EQ(copy.GetIndexForFields("CITY", false), &copy[2]);
  EXPECT_THROW(copy.Find("none"), EDatabaseError);
  EXPECT_THROW(copy[1].SetName("BY_CITY"), EDatabaseError);
}

TEST(Parameters, ParseSqlFindsEachDistinctName) {
  struct Case {
    const char* sql;
    const char* parsed;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"select * from t where a = :a and b = :B1 or c = :a",
       "select * from t where a = ? and b = ? or c = ?",
       {"a", "B1"}},
      {"select ':x', \"y:z\", [w:v] from t where d = :d",
       "select ':x', \"y:z\", [w:v] from t where d = ?",
       {"d"}},
      {"where t = #12:30:00# and u = :_u", "where t = #12:30:00# and u = ?", {"_u"}},
      {"a::b :\"long name\" :čas", "a:b ? ?", {"long name", "čas"}},
      {"it's :p", "it's :p", {}},  // an unterminated literal hides the rest
      {"x = :", "x = :", {}},
  };
  for (const Case& c : cases) {
    TParams params;
    EXPECT_EQ(params.ParseSQL(c.sql, true), c.parsed) << c.sql;
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i) {
      names.push_back(params[i].Name());
      EXPECT_EQ(params[i].ParamType(), ptInput);
      EXPECT_EQ(params[i].DataType(), ftUnknown);
    }
    EXPECT_EQ(names, c.names) << c.sql;
  }
}

TEST(Parameters, ValuesTypesAndAssignment) {
  TParams params;
  params.ParseSQL("select :name, :born, :n", true);
  params.ParamByName("NAME").SetAsString("Eva");
  EXPECT_EQ(params[0].DataType(), ftString);
  EXPECT_THROW(params.ParamByName("nope"), EDatabaseError);
  params.SetParamValues("born;n", Variant::FromArray({Variant::FromDate(1.5), Variant(3)}));
  EXPECT_EQ(params[1].DataType(), ftDateTime);  // taken from the value's kind
  EXPECT_EQ(params[2].AsInteger(), 3);

  TMemoryDataset ds;
  ds.Schema().Add("N", ftSmallint);
  Fill(ds, {{Variant(7)}});
  TParam& n = params.ParamByName("n");
  n.AssignFieldValue(ds.FieldByName("N"), Variant(8));
  EXPECT_EQ(n.DataType(), ftInteger);  // it had a type already
  TParam fresh;
  fresh.AssignFieldValue(ds.FieldByName("N"), ds.FieldByName("N").Value());
  EXPECT_EQ(fresh.DataType(), ftSmallint);
  EXPECT_EQ(fresh.AsInteger(), 7);

  TParams other;
  other.CreateParam(ftFloat, "N", ptInput).SetAsFloat(2.5);
  other.CreateParam(ftFloat, "unrelated", ptInput);
  params.AssignValues(other);
  EXPECT_EQ(params.ParamByName("n").AsFloat(), 2.5);
  EXPECT_EQ(params.Count(), 3);
  TParams copy;
  copy.Assign(params);
  EXPECT_TRUE(copy.IsEqual(params));
  copy[0].Clear();
  EXPECT_TRUE(copy[0].IsNull());
  EXPECT_FALSE(copy.IsEqual(params));
}

}  // namespace
}  // namespace dstest
