// `datovrat-cli copy tables DEST.mdb SOURCE...`: the window's copy run on the command line.
//
// The run is the shared one (src/copy): each source becomes a table named after the file, a
// table of that name is replaced, a missing destination is created. Here the run's questions
// are answered by an option or on the terminal, its gauge is a progress line on standard error,
// Ctrl-C is the interrupt, and the end is a summary of every table.
//
// Exit status: 0 every table copied, 1 an error ended the run, 2 usage, 3 interrupted.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "bde/table.h"
#include "command.h"
#include "copy/copy_run.h"
#include "core/errors.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
}

// Ctrl-C asks the run to stop between records while it is installed.
class InterruptScope {
 public:
  InterruptScope() {
    g_interrupted = 0;
    previous_ = std::signal(SIGINT, OnInterrupt);
  }
  ~InterruptScope() { std::signal(SIGINT, previous_); }

 private:
  void (*previous_)(int) = nullptr;
};

enum class FieldErrorPolicy { Ask, YesToAll, Stop };

struct Options {
  FieldErrorPolicy policy = FieldErrorPolicy::Ask;
  bool quiet = false;
  bde::ReaderOptions reader;
  std::string destination;
  std::vector<std::string> sources;
};

// The run seen from a terminal.
class TerminalView : public copy::CopyView {
 public:
  TerminalView(const Options& options, std::istream& in, std::ostream& err)
      : options_(options), in_(in), err_(err) {
    bar_ = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    ask_ = options.policy == FieldErrorPolicy::Ask && ::isatty(STDIN_FILENO) == 1;
  }

  void EnterCopying() override {
    progress_ = 0;
    caption_.clear();
  }
  void LeaveCopying() override { EndBar(); }
  void SetGaugeMax(std::int32_t max) override {
    // As the window's gauge: a maximum not above the minimum is ignored.
    if (max > 0) max_ = max;
  }
  void SetGaugeProgress(std::int32_t progress) override {
    // The run sets 0 when a table starts and one more after every record.
    if (progress == 0)
      records_ = 0;
    else
      ++records_;
    progress_ = std::min(std::max(progress, 0), max_);
    DrawBar(false);
  }
  std::int32_t GaugeProgress() const override { return progress_; }
  void SetGaugeCaption(const std::string& path) override {
    EndBar();
    caption_ = path;
    records_ = 0;
    started_ = std::chrono::steady_clock::now();
  }
  void HideGauge() override { EndBar(); }
  void ProcessMessages() override {}
  bool InterruptRequested() const override { return g_interrupted != 0; }

  void NoteFieldError(const std::string& file, std::int64_t record,
                      const std::string& field) override {
    where_ = file + ": record " + std::to_string(record) + ", field " + field;
  }

  int AskFieldError(const std::string& prompt) override {
    switch (options_.policy) {
      case FieldErrorPolicy::YesToAll:
        return copy::kAnswerYesToAll;
      case FieldErrorPolicy::Stop:
        return copy::kAnswerNo;
      case FieldErrorPolicy::Ask:
        break;
    }
    if (!ask_) return copy::kAnswerNo;
    EndBar();
    std::string message = prompt.substr(0, prompt.find("\r\n"));
    for (;;) {
      err_ << where_ << ": " << message
           << "\nContinue? [y]es, [n]o, [a]ll of this table: " << std::flush;
      std::string line;
      if (!std::getline(in_, line)) return copy::kAnswerNo;
      if (line == "y" || line == "Y" || line == "yes") return copy::kAnswerYes;
      if (line == "n" || line == "N" || line == "no" || line.empty()) return copy::kAnswerNo;
      if (line == "a" || line == "A" || line == "all") return copy::kAnswerYesToAll;
    }
  }

  const std::string& LastFieldError() const { return where_; }

 private:
  void DrawBar(bool force) {
    if (!bar_ || caption_.empty()) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    double seconds = std::chrono::duration<double>(now - started_).count();
    long rate = seconds > 0 ? static_cast<long>(static_cast<double>(records_) / seconds) : 0;
    err_ << "\r" << fs::path(caption_).filename().string() << "  " << records_;
    if (max_ > 0) err_ << " of " << max_ << " (" << (100L * progress_ / max_) << "%)";
    err_ << "  " << rate << " records/s   " << std::flush;
    shown_ = true;
  }
  void EndBar() {
    if (shown_) {
      DrawBar(true);
      err_ << "\n" << std::flush;
    }
    shown_ = false;
  }

  const Options& options_;
  std::istream& in_;
  std::ostream& err_;
  bool bar_ = false;
  bool ask_ = false;
  bool shown_ = false;
  std::int32_t max_ = 100;
  std::int32_t progress_ = 0;
  std::int64_t records_ = 0;
  std::string caption_;
  std::string where_;
  std::chrono::steady_clock::time_point started_{};
  std::chrono::steady_clock::time_point drawn_{};
};

const char* const kUsage =
    "usage: datovrat-cli copy tables DEST.mdb SOURCE... [--yes-to-all | --stop-on-error]\n"
    "         [--codepage CP] [--force-codepage CP] [--read-past-count] [--missing-memo=null]\n"
    "         [--quiet]\n";

const char* const kHelp =
    "Copies dBase/FoxPro (.dbf) and Paradox (.db) tables into an Access database.\n"
    "\n"
    "Each SOURCE becomes a table named after the file (up to its first \".\"); a table of that\n"
    "name is replaced. A missing DEST.mdb is created as a new Access 2000 database.\n"
    "\n"
    "  --yes-to-all        a value the destination refuses is left empty and reported\n"
    "                      (--skip-bad-values is the same)\n"
    "  --stop-on-error     a refused value ends the run (the answer when no terminal asks)\n"
    "  --codepage CP       code page of tables that name none (default: found from the text)\n"
    "  --force-codepage CP code page of every table, whatever it names\n"
    "  --read-past-count   read every complete record, also past the header's count\n"
    "  --missing-memo=null a missing memo file leaves the memo fields empty\n"
    "  --quiet             no progress line\n"
    "\n"
    "Ctrl-C stops between records: the current table keeps what was copied, later files are\n"
    "skipped. Exit status: 0 copied, 1 error, 2 usage, 3 interrupted.\n";

// False with a message on `err` for arguments that make no run.
bool ParseArguments(const std::vector<std::string>& args, Options& options, std::ostream& err) {
  auto number = [&](std::size_t& i, int& into) {
    const std::string& name = args[i];
    if (i + 1 >= args.size()) {
      err << "datovrat-cli: " << name << " needs a code page number\n" << kUsage;
      return false;
    }
    const std::string& text = args[++i];
    std::size_t used = 0;
    int value = 0;
    try {
      value = std::stoi(text, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used != text.size() || value <= 0) {
      err << "datovrat-cli: " << name << ": '" << text << "' is not a code page number\n" << kUsage;
      return false;
    }
    into = value;
    return true;
  };
  bool yes = false, stop = false;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--yes-to-all" || a == "--skip-bad-values") {
      yes = true;
    } else if (a == "--stop-on-error") {
      stop = true;
    } else if (a == "--quiet") {
      options.quiet = true;
    } else if (a == "--codepage") {
      if (!number(i, options.reader.code_page)) return false;
    } else if (a == "--force-codepage") {
      if (!number(i, options.reader.force_code_page)) return false;
    } else if (a == "--read-past-count") {
      options.reader.read_past_count = true;
    } else if (a == "--missing-memo=null") {
      options.reader.missing_memo_null = true;
    } else if (a == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      err << "datovrat-cli: unknown option '" << a << "'\n" << kUsage;
      return false;
    } else {
      files.push_back(a);
    }
  }
  if (yes && stop) {
    err << "datovrat-cli: --yes-to-all and --stop-on-error exclude each other\n" << kUsage;
    return false;
  }
  if (files.size() < 2) {
    err << kUsage;
    return false;
  }
  options.policy = yes    ? FieldErrorPolicy::YesToAll
                   : stop ? FieldErrorPolicy::Stop
                          : FieldErrorPolicy::Ask;
  options.destination = files.front();
  options.sources.assign(files.begin() + 1, files.end());
  return true;
}

void PrintSummary(const copy::CopyResult& result, std::ostream& out) {
  for (const copy::TableReport& t : result.tables) {
    out << t.source << " -> " << t.table << ": " << Plural(t.records, "record");
    if (!t.complete) out << " (incomplete)";
    if (!t.skipped.empty()) {
      out << ", " << Plural(static_cast<std::int64_t>(t.skipped.size()), "value") << " skipped";
    }
    out << "\n";
    // A code page the table names itself goes without saying; one found or assumed is said.
    const std::string marked = "marked";
    if (!t.code_page.empty() &&
        (t.code_page.size() < marked.size() ||
         t.code_page.compare(t.code_page.size() - marked.size(), marked.size(), marked) != 0))
      out << "  code page " << t.code_page << "\n";
    if (!t.replaced_source.empty())
      out << "  replaces the table copied from " << t.replaced_source << " in this run\n";
    for (const std::string& w : t.warnings) out << "  warning: " << w << "\n";
    for (const std::string& c : t.type_changes) out << "  " << c << "\n";
    for (const std::string& c : t.changes) out << "  changed: " << c << "\n";
    for (const copy::SkippedValue& s : t.skipped)
      out << "  skipped: record " << s.record << ", field " << s.field << ": " << s.message << "\n";
  }
}

int RunCopy(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
            std::ostream& err) {
  Options options;
  if (!ParseArguments(args, options, err)) return 2;

  // Every source must be there before the destination is created.
  for (const std::string& source : options.sources) {
    std::error_code ec;
    if (!fs::is_regular_file(source, ec)) {
      err << "datovrat-cli: " << source << ": no such file\n";
      return 1;
    }
    if (!std::ifstream(source, std::ios::binary)) {
      err << "datovrat-cli: " << source << ": cannot be read\n";
      return 1;
    }
  }

  bde::TTable source_table;
  daodb::TMxDaoDatabase database;
  database.BeginLoading();
  database.EndLoading();
  daotable::TMxDaoTable table;
  table.SetDatabase(&database);

  TerminalView view(options, in, err);
  copy::CopyComponents components{&source_table, &database, &table};
  copy::CopyOptions copy_options;
  copy_options.reader = options.reader;
  copy::CopyResult result;
  int status = 0;
  {
    InterruptScope interrupt;
    try {
      copy::CopyTables(view, components, options.destination, options.sources, copy_options,
                       result);
    } catch (const std::exception& e) {
      std::string message = e.what();
      const std::string& where = view.LastFieldError();
      // Name the file (and the record and field of a refused value) once.
      if (!where.empty() && message.find("record ") == std::string::npos)
        message = where + ": " + message;
      else if (!result.tables.empty() &&
               message.find(result.tables.back().source) == std::string::npos)
        message = result.tables.back().source + ": " + message;
      else if (result.tables.empty() && message.find(options.destination) == std::string::npos)
        message = options.destination + ": " + message;
      err << "datovrat-cli: " << message << "\n";
      status = 1;
    }
  }
  if (status == 0 && result.ending == copy::CopyEnding::Interrupted) {
    err << "datovrat-cli: interrupted; later files were not copied\n";
    status = 3;
  }
  PrintSummary(result, out);
  return status;
}

const bool registered = RegisterCommand(
    {"copy", "tables",
     "DEST.mdb SOURCE... [--yes-to-all | --skip-bad-values | --stop-on-error] [--codepage CP] "
     "[--force-codepage CP] [--read-past-count] [--missing-memo=null] [--quiet]",
     "copy dBase/FoxPro (.dbf) and Paradox (.db) tables into an Access database", RunCopy});
const bool help_registered = RegisterHelp("copy", "tables", kHelp);

}  // namespace
}  // namespace cli
