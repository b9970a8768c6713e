// `datovrat-cli copy DEST.mdb SOURCE...`: the copy run without the window.
//
// Each source table (.dbf or .db) becomes a table of the destination database named after the
// file (the part of the name before its first "."), with one field per source field and every
// record; a table of that name is dropped first. A missing destination is created as a new,
// empty Jet 4 database. A field value the destination refuses stops the copy with the error,
// unless --skip-bad-values is given, in which case the field keeps what the new record had
// (as answering "Yes to all" in the window does) and the refusal is reported on standard error.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "bde/table.h"
#include "command.h"
#include "core/errors.h"
#include "dao/constants.h"
#include "dao/dao.h"
#include "daodb/dao_utils.h"
#include "dataset/db.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// The destination table's name: the file name up to its first ".".
std::string TableNameFromFile(const std::string& path) {
  std::string name = path;
  std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  std::size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Creates the destination table from the source's field definitions: DAO types and sizes by
// the utility routines, an auto-increment field as a Long with attribute 16, required flags set
// once the table exists.
void CreateDestinationTable(dao::Database& db, const std::string& name, ds::TFieldDefs& defs) {
  if (name.empty()) throw core::EDatabaseError("Cannot create new Table - TableName is missing!");
  auto td = db.CreateTableDef(name);
  std::vector<std::string> required;
  for (int i = 0; i < defs.Count(); ++i) {
    ds::TFieldDef& def = defs[i];
    int type = daodb::FieldTypeToDaoType(def.DataType());
    if (type == daodb::NoDaoType)
      throw core::EDatabaseError("Field '" + def.Name() + "' of type " +
                                 daodb::FieldTypeName(def.DataType()) +
                                 " has no counterpart in an Access table");
    // Fixed-length byte fields map to GUID columns, which take exactly 16 bytes; any other
    // length would refuse every value, so such a field becomes a Binary column of its size.
    if (type == dao::dbGUID && def.Size() != 16 && def.Size() > 0 && def.Size() <= 255)
      type = dao::dbBinary;
    const bool auto_increment = type == daodb::AutoIncrementMarker;
    const int size = daodb::DaoFieldSize(type, def.Size());
    if (auto_increment) type = dao::dbLong;
    td->Fields().Append(td->CreateField(def.Name(), type, size));
    if (auto_increment) td->Fields().Item(def.Name())->SetAttributes(dao::dbAutoIncrField);
    if (def.Required()) required.push_back(def.Name());
  }
  db.TableDefs().Append(td);
  db.TableDefs().Refresh();
  for (const std::string& field : required)
    db.TableDefs().Item(name)->Fields().Item(field)->SetRequired(true);
}

struct CopyOptions {
  bool skip_bad_values = false;
  int code_page = 0;        // for tables that name none; 0: guessed from their text
  int force_code_page = 0;  // for every table, whatever it names
  bool read_past_count = false;
  bool missing_memo_null = false;
  bool quiet = false;
};

// Copies one source table; returns the number of records written.
long CopyTable(dao::Database& db, const std::string& source_path, const CopyOptions& options,
               std::ostream& err) {
  fs::path path(source_path);
  bde::TTable source;
  std::string dir = path.parent_path().string();
  source.SetDatabaseName(dir.empty() ? std::string("./") : dir + "/");
  source.SetTableName(path.filename().string());
  bde::ReaderOptions reader = source.Options();
  reader.code_page = options.code_page;
  reader.force_code_page = options.force_code_page;
  reader.read_past_count = options.read_past_count;
  reader.missing_memo_null = options.missing_memo_null;
  source.SetOptions(reader);
  source.Open();
  for (const std::string& warning : source.Warnings()) err << source_path << ": " << warning << "\n";

  const std::string table = TableNameFromFile(source_path);
  for (int i = 0; i < db.TableDefs().Count(); ++i) {
    auto existing = db.TableDefs().Item(i);
    if ((existing->Attributes() & dao::dbSystemObject) == 0 && existing->Name().size() == table.size() &&
        std::equal(table.begin(), table.end(), existing->Name().begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        })) {
      db.TableDefs().Delete(existing->Name());
      break;
    }
  }
  CreateDestinationTable(db, table, source.FieldDefs());

  auto rs = db.OpenRecordset(table, dao::dbOpenDynaset, 0, dao::dbOptimistic);
  std::vector<std::shared_ptr<dao::Field>> dest;
  for (int i = 0; i < rs->Fields().Count(); ++i) dest.push_back(rs->Fields().Item(i));
  const int count = std::min<int>(static_cast<int>(dest.size()), source.FieldCount());
  // An AutoNumber field numbers the records itself: like the table component, the copy leaves
  // fields DAO does not let us update to the engine.
  std::vector<bool> updatable;
  for (const auto& field : dest) updatable.push_back((field->Attributes() & dao::dbUpdatableField) != 0);

  long written = 0;
  for (; !source.Eof(); source.Next()) {
    rs->AddNew();
    for (int i = 0; i < count; ++i) {
      if (!updatable[static_cast<std::size_t>(i)]) continue;
      try {
        core::Variant value = source.Fields()[i].Value();
        if (!value.IsNull()) dest[static_cast<std::size_t>(i)]->SetValue(value);
      } catch (const core::Exception& e) {
        if (!options.skip_bad_values) throw;
        err << source_path << ": record " << written + 1 << ", field "
            << source.Fields()[i].FieldName() << ": " << e.what() << " (skipped)\n";
      }
    }
    rs->Update();
    ++written;
  }
  rs->Close();
  source.Close();
  return written;
}

int RunCopy(const std::vector<std::string>& args, std::istream&, std::ostream& out,
            std::ostream& err) {
  CopyOptions options;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--skip-bad-values") {
      options.skip_bad_values = true;
    } else if (args[i] == "--quiet") {
      options.quiet = true;
    } else if (args[i] == "--codepage" && i + 1 < args.size()) {
      options.code_page = std::stoi(args[++i]);
    } else if (args[i] == "--force-codepage" && i + 1 < args.size()) {
      options.force_code_page = std::stoi(args[++i]);
    } else if (args[i] == "--read-past-count") {
      options.read_past_count = true;
    } else if (args[i] == "--missing-memo=null") {
      options.missing_memo_null = true;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() < 2) {
    err << "usage: datovrat-cli copy DEST.mdb SOURCE... [--skip-bad-values] [--codepage CP] "
           "[--force-codepage CP] [--read-past-count] [--missing-memo=null]\n";
    return 2;
  }
  const std::string dest = files.front();

  auto engine = dao::DBEngine::Create();
  auto ws = engine->CreateWorkspace("DatovratCopy", "Admin", "", dao::dbUseJet);
  engine->Workspaces().Append(ws);
  if (!fs::exists(dest))
    ws->CreateDatabase(dest, ";LANGID=0x0409;CP=1252;COUNTRY=0", dao::dbVersion40);
  auto db = ws->OpenDatabase(dest, false, false, "");
  int status = 0;
  for (std::size_t i = 1; i < files.size(); ++i) {
    try {
      long n = CopyTable(*db, files[i], options, err);
      if (!options.quiet)
        out << files[i] << " -> " << dest << " [" << TableNameFromFile(files[i]) << "]: " << n
            << " records\n";
    } catch (const std::exception& e) {
      // As in the window: an error ends the run; the tables copied so far stay complete.
      err << "datovrat-cli: " << files[i] << ": " << e.what() << "\n";
      status = 1;
      break;
    }
  }
  db->Close();
  return status;
}

const bool registered = RegisterCommand(
    {"copy", "tables",
     "DEST.mdb SOURCE... [--skip-bad-values] [--codepage CP] [--force-codepage CP] "
     "[--read-past-count] [--missing-memo=null] [--quiet]",
     "copy dBase/FoxPro (.dbf) and Paradox (.db) tables into an Access database", RunCopy});

}  // namespace
}  // namespace cli
