// TableDefs, Fields, Indexes and Properties: built unappended, made real by Append, read back
// from the file (and by mdbtools), changed where DAO allows it.
#include "core/file.h"
#include "dao_test_util.h"

namespace {

using namespace dao;
using daotest::ErrorOf;

class SchemaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = DBEngine::Create(&files_);
    db_ = engine_->CreateDatabase("/s.mdb", dbLangGeneral);
  }
  core::MemoryFileSystem files_;
  std::shared_ptr<DBEngine> engine_;
  std::shared_ptr<Database> db_;
};

TEST_F(SchemaTest, AnUnappendedTableDefIsCheckedWhenAppended) {
  auto td = db_->CreateTableDef("Osoby");
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Append(td); }), err::kNoFieldDefined);
  EXPECT_EQ(engine_->Errors().Item(0).Source, "DAO.TableDefs");

  auto id = td->CreateField("ID", dbLong);
  td->Fields().Append(id);
  EXPECT_EQ(ErrorOf([&] { td->Fields().Append(id); }), err::kFieldAlreadyAppended);
  EXPECT_EQ(ErrorOf([&] { td->Fields().Append(td->CreateField("id", dbText)); }), err::kNameExists);
  auto untyped = td->CreateField("Untyped");
  td->Fields().Append(untyped);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Append(td); }), err::kInvalidFieldType);
  td->Fields().Delete("UNTYPED");
  auto name = td->CreateField("Jméno", dbText);
  EXPECT_EQ(name->Size(), 255);  // a Text field without a size takes the largest
  name->SetSize(300);
  td->Fields().Append(name);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Append(td); }), err::kInvalidArgument);
  name->SetSize(40);
  td->Fields().Append(td->CreateField("Vytvořeno", dbDate));
  td->Fields().Append(td->CreateField("Code", 1024));  // no DAO type has this code
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Append(td); }), err::kInvalidFieldType);
  td->Fields().Delete("Code");
  EXPECT_EQ(td->Fields().Count(), 3);

  auto empty_index = td->CreateIndex("Empty");
  EXPECT_EQ(ErrorOf([&] { td->Indexes().Append(empty_index); }), err::kNoFieldDefined);
  auto pk = td->CreateIndex("PrimaryKey");
  pk->SetPrimary(true);
  pk->Fields().Append(pk->CreateField("ID"));
  td->Indexes().Append(pk);
  EXPECT_EQ(ErrorOf([&] { td->Indexes().Append(pk); }), err::kIndexAlreadyAppended);
  auto second = td->CreateIndex("Other");
  second->SetPrimary(true);
  second->Fields().Append(second->CreateField("Jméno"));
  EXPECT_EQ(ErrorOf([&] { td->Indexes().Append(second); }), err::kPrimaryKeyExists);
  auto by_name = td->CreateIndex("ByName");
  auto desc = by_name->CreateField("Jméno");
  desc->SetAttributes(dbDescending);
  by_name->Fields().Append(desc);
  by_name->Fields().Append(by_name->CreateField("ID"));
  td->Indexes().Append(by_name);

  db_->TableDefs().Append(td);
  EXPECT_EQ(ErrorOf([&] { pk->SetUnique(false); }), err::kPropertyReadOnlyOnceAppended);
  auto again = db_->CreateTableDef("OSOBY");
  again->Fields().Append(again->CreateField("X", dbLong));
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Append(again); }), err::kTableExists);
  EXPECT_EQ(engine_->Errors().Item(0).Description, "Table 'OSOBY' already exists.");

  // Read back from the file.
  auto t = db_->TableDefs().Item("osoby");
  EXPECT_EQ(t->Name(), "Osoby");
  EXPECT_EQ(t->Attributes(), 0);
  ASSERT_EQ(t->Fields().Count(), 3);
  struct Expect {
    const char* name;
    int type;
    int size;
    int attributes;
  };
  const Expect expected[] = {{"ID", dbLong, 4, dbFixedField},
                             {"Jméno", dbText, 40, dbVariableField},
                             {"Vytvořeno", dbDate, 8, dbFixedField}};
  for (int i = 0; i < 3; ++i) {
    auto f = t->Fields().Item(i);
    EXPECT_EQ(f->Name(), expected[i].name);
    EXPECT_EQ(f->Type(), expected[i].type);
    EXPECT_EQ(f->Size(), expected[i].size);
    EXPECT_EQ(f->Attributes(), expected[i].attributes);
    EXPECT_EQ(f->OrdinalPosition(), i);
    EXPECT_EQ(ErrorOf([&] { f->Value(); }), err::kInvalidOperation);
  }
  ASSERT_EQ(t->Indexes().Count(), 2);
  auto pk2 = t->Indexes().Item("primarykey");
  EXPECT_TRUE(pk2->Primary());
  EXPECT_TRUE(pk2->Unique());
  auto by_name2 = t->Indexes().Item("ByName");
  EXPECT_FALSE(by_name2->Primary());
  EXPECT_FALSE(by_name2->Unique());
  ASSERT_EQ(by_name2->Fields().Count(), 2);
  EXPECT_EQ(by_name2->Fields().Item(0)->Name(), "Jméno");
  EXPECT_EQ(by_name2->Fields().Item(0)->Attributes() & dbDescending, dbDescending);
  EXPECT_EQ(by_name2->Fields().Item(1)->Attributes() & dbDescending, 0);
}

TEST_F(SchemaTest, CollectionsFindByOrdinalAndByNameInAnyCase) {
  daotest::CreateTable(*db_, "beta", {{"A", dbLong}});
  daotest::CreateTable(*db_, "Alfa", {{"A", dbLong}});
  std::vector<std::string> user;
  int system = 0;
  for (int i = 0; i < db_->TableDefs().Count(); ++i) {
    auto t = db_->TableDefs().Item(i);
    if (t->Attributes() & dbSystemObject) {
      ++system;
      EXPECT_EQ(t->Name().rfind("MSys", 0), 0u) << t->Name();
    } else {
      user.push_back(t->Name());
    }
  }
  EXPECT_EQ(user, (std::vector<std::string>{"Alfa", "beta"}));
  EXPECT_GE(system, 4);
  EXPECT_EQ(db_->TableDefs().Item(core::Variant("ALFA"))->Name(), "Alfa");
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Item("Gamma"); }), err::kItemNotFound);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Item(99); }), err::kItemNotFound);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Item(-1); }), err::kItemNotFound);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Item("Alfa")->Fields().Item("B"); }),
            err::kItemNotFound);
  EXPECT_EQ(engine_->Errors().Item(0).Source, "DAO.Fields");
  EXPECT_EQ(db_->TableDefs().Item("Alfa")->Fields().Item(core::Variant(0))->Name(), "A");
}

TEST_F(SchemaTest, RequiredAndPropertiesChangeOnAnAppendedTable) {
  daotest::CreateTable(*db_, "P", {{"ID", dbLong}, {"NAME", dbText, 20}});
  auto f = db_->TableDefs().Item("P")->Fields().Item("NAME");
  EXPECT_FALSE(f->Required());
  f->SetRequired(true);
  EXPECT_TRUE(db_->TableDefs().Item("P")->Fields().Item("NAME")->Required());
  f->SetDefaultValue("\"nobody\"");
  EXPECT_EQ(db_->TableDefs().Item("P")->Fields().Item("NAME")->DefaultValue(), "\"nobody\"");
  // A new record starts with the default.
  auto rs = db_->OpenRecordset("P", dbOpenDynaset);
  rs->AddNew();
  EXPECT_EQ(rs->Fields().Item("NAME")->Value().ToString(), "nobody");
  EXPECT_TRUE(rs->Fields().Item("NAME")->Required());
  EXPECT_EQ(rs->Fields().Item("NAME")->DefaultValue(), "\"nobody\"");
  rs->CancelUpdate();
  rs->Close();

  // Access's properties exist only once created.
  EXPECT_EQ(ErrorOf([&] { f->Properties().Item("Format"); }), err::kPropertyNotFound);
  EXPECT_EQ(engine_->Errors().Item(0).Source, "DAO.Properties");
  f->Properties().Append(f->CreateProperty("Caption", dbText, core::Variant("Jméno a příjmení")));
  f->Properties().Append(f->CreateProperty("Format", dbText, core::Variant(">")));
  EXPECT_EQ(ErrorOf([&] {
              f->Properties().Append(f->CreateProperty("Format", dbText, core::Variant("<")));
            }),
            err::kNameExists);
  auto fresh = db_->TableDefs().Item("P")->Fields().Item("NAME");
  EXPECT_EQ(fresh->Properties().Item("caption")->Value().ToString(), "Jméno a příjmení");
  bool has_format = false;
  for (int i = 0; i < fresh->Properties().Count(); ++i)
    if (fresh->Properties().Item(i)->Name() == "Format") has_format = true;
  EXPECT_TRUE(has_format);
  EXPECT_EQ(fresh->Properties().Item("Required")->Value().ToBoolean(), true);
  fresh->Properties().Item("Format")->SetValue(core::Variant("@"));
  EXPECT_EQ(fresh->Properties().Item("Format")->Value().ToString(), "@");
  EXPECT_EQ(ErrorOf([&] { fresh->Properties().Delete("Name"); }), err::kBuiltInProperty);
  EXPECT_EQ(ErrorOf([&] { fresh->Properties().Item("Format")->SetValue(core::Variant::Null()); }),
            err::kNullProperty);
  // Recordset fields inherit them.
  rs = db_->OpenRecordset("P", dbOpenDynaset);
  auto p = rs->Fields().Item("NAME")->Properties().Item("Format");
  EXPECT_EQ(p->Value().ToString(), "@");
  EXPECT_TRUE(p->Inherited());
  rs->Close();
  fresh->Properties().Delete("Format");
  EXPECT_EQ(ErrorOf([&] { fresh->Properties().Item("Format"); }), err::kPropertyNotFound);
  EXPECT_EQ(fresh->Properties().Item("Caption")->Value().ToString(), "Jméno a příjmení");
  // Fixed properties of a column stay fixed.
  EXPECT_EQ(ErrorOf([&] { fresh->SetType(dbLong); }), err::kPropertyReadOnlyOnceAppended);
  EXPECT_EQ(ErrorOf([&] { fresh->SetSize(5); }), err::kPropertyReadOnlyOnceAppended);
}

TEST_F(SchemaTest, TablesInUseCannotBeDropped) {
  daotest::CreateTable(*db_, "D", {{"ID", dbLong}});
  auto rs = db_->OpenRecordset("D", dbOpenDynaset);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Delete("D"); }), err::kTableInUse);
  EXPECT_NE(engine_->Errors().Item(0).Description.find("'D'"), std::string::npos);
  rs->Close();
  db_->TableDefs().Delete("d");
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Delete("D"); }), err::kItemNotFound);
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("D", dbOpenTable); }), err::kObjectNotFound);
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("D", dbOpenDynaset); }), err::kInputTableNotFound);
  EXPECT_EQ(engine_->Errors().Item(0).Description,
            "The database engine cannot find the input table or query 'D'. Make sure it exists "
            "and that its name is spelled correctly.");
}

TEST_F(SchemaTest, ErrorsHoldTheLastFailureOnly) {
  EXPECT_EQ(engine_->Errors().Count(), 0);
  EXPECT_EQ(ErrorOf([&] { db_->TableDefs().Item("none"); }), err::kItemNotFound);
  ASSERT_EQ(engine_->Errors().Count(), 1);
  const Error& e = engine_->Errors().Item(0);
  EXPECT_EQ(e.Number, 3265);
  EXPECT_EQ(e.Source, "DAO.TableDefs");
  EXPECT_EQ(e.Description, "Item not found in this collection.");
  EXPECT_EQ(e.HelpContext, 5003265);
  // A successful call leaves the list alone; the next failure replaces it.
  db_->TableDefs().Count();
  EXPECT_EQ(engine_->Errors().Item(0).Number, 3265);
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("x", 99); }), err::kInvalidArgument);
  ASSERT_EQ(engine_->Errors().Count(), 1);
  EXPECT_EQ(engine_->Errors().Item(0).Source, "DAO.Database");
  // The exception carries the same record.
  try {
    db_->OpenRecordset("T", dbOpenDynamic);
    FAIL();
  } catch (const core::EOleException& x) {
    EXPECT_EQ(x.ErrorCode(), err::kInvalidArgument);
    EXPECT_EQ(x.Source(), "DAO.Database");
    EXPECT_EQ(x.Description(), "Invalid argument.");
    EXPECT_EQ(x.HelpContext(), 5003001);
  }
  EXPECT_EQ(ErrorOf([&] { engine_->Errors().Item(5); }), err::kItemNotFound);
  EXPECT_EQ(engine_->Errors().Item(0).Number, err::kInvalidArgument);
}

TEST_F(SchemaTest, IndexesAndFieldsChangeOnATableThatExists) {
  daotest::CreateTable(*db_, "C", {{"ID", dbLong}, {"NAME", dbText, 20}});
  auto rs = db_->OpenRecordset("C", dbOpenDynaset);
  for (auto [id, name] : {std::pair{1, "b"}, std::pair{2, "a"}, std::pair{3, "a"}}) {
    rs->AddNew();
    rs->Fields().Item("ID")->SetValue(core::Variant(id));
    rs->Fields().Item("NAME")->SetValue(std::string_view(name));
    rs->Update();
  }
  auto td = db_->TableDefs().Item("C");
  td->Fields().Item("NAME")->Properties().Append(
      td->Fields().Item("NAME")->CreateProperty("Caption", dbText, core::Variant("Jméno")));
  auto unique = td->CreateIndex("ByName");
  unique->SetUnique(true);
  unique->Fields().Append(unique->CreateField("NAME"));
  // Design changes wait until no recordset uses the table.
  EXPECT_EQ(ErrorOf([&] { td->Indexes().Append(unique); }), err::kTableInUse);
  rs->Close();
  // The rows break the new unique index: nothing changes.
  EXPECT_EQ(ErrorOf([&] { td->Indexes().Append(unique); }), err::kDuplicateKey);
  EXPECT_EQ(td->Indexes().Count(), 0);
  EXPECT_EQ(td->RecordCount(), 3);

  auto pk = td->CreateIndex("PrimaryKey");
  pk->SetPrimary(true);
  pk->Fields().Append(pk->CreateField("ID"));
  td->Indexes().Append(pk);
  ASSERT_EQ(td->Indexes().Count(), 1);
  EXPECT_TRUE(td->Indexes().Item("PrimaryKey")->Primary());
  auto second = td->CreateIndex("Other");
  second->SetPrimary(true);
  second->Fields().Append(second->CreateField("NAME"));
  EXPECT_EQ(ErrorOf([&] { td->Indexes().Append(second); }), err::kPrimaryKeyExists);

  // The rows and the field's properties stay; the index works.
  auto table = db_->OpenRecordset("C", dbOpenTable);
  table->SetIndex("PrimaryKey");
  table->Seek("=", {core::Variant(2)});
  ASSERT_FALSE(table->NoMatch());
  EXPECT_EQ(table->Fields().Item("NAME")->Value().ToString(), "a");
  table->AddNew();
  table->Fields().Item("ID")->SetValue(core::Variant(2));
  EXPECT_EQ(ErrorOf([&] { table->Update(); }), err::kDuplicateKey);
  table->Close();
  EXPECT_EQ(td->Fields().Item("NAME")->Properties().Item("Caption")->Value().ToString(), "Jméno");

  // A column added to rows that exist is Null in them; a column removed takes its index along.
  auto note = td->CreateField("NOTE", dbText, 10);
  note->SetDefaultValue("\"?\"");
  td->Fields().Append(note);
  EXPECT_EQ(ErrorOf([&] { td->Fields().Append(td->CreateField("note", dbLong)); }),
            err::kNameExists);
  EXPECT_EQ(td->Fields().Count(), 3);
  EXPECT_EQ(td->Fields().Item("NOTE")->DefaultValue(), "\"?\"");
  auto check = db_->OpenRecordset("C", dbOpenSnapshot);
  EXPECT_TRUE(check->Fields().Item("NOTE")->Value().IsNull());
  EXPECT_EQ(check->Fields().Item("ID")->Value().ToLong(), 1);
  check->Close();
  td->Fields().Delete("ID");
  EXPECT_EQ(td->Fields().Count(), 2);
  EXPECT_EQ(td->Indexes().Count(), 0);
  EXPECT_EQ(td->RecordCount(), 3);
  td->Indexes().Append(unique = [&] {
    auto i = td->CreateIndex("ByNote");
    i->Fields().Append(i->CreateField("NOTE"));
    return i;
  }());
  EXPECT_EQ(td->Indexes().Item(0)->Name(), "ByNote");
  td->Indexes().Delete("ByNote");
  EXPECT_EQ(td->Indexes().Count(), 0);
  // No scratch table is left behind.
  int user_tables = 0;
  for (int i = 0; i < db_->TableDefs().Count(); ++i)
    if ((db_->TableDefs().Item(i)->Attributes() & dbSystemObject) == 0) ++user_tables;
  EXPECT_EQ(user_tables, 1);
}

}  // namespace
