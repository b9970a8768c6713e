// The front end's conventions, the same for every command: --version, --help on the program, a
// group and every command (exit 0, nothing created), unknown options as usage errors (never
// file names), and the exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;

using cli_test::Result;

// Runs the tool in `dir`, so that any file it wrongly creates lands there.
Result Cli(const std::string& arguments, const fs::path& dir) {
  return cli_test::Shell("cd " + cli_test::Quote(dir.string()) + " && " +
                         cli_test::Quote(DATOVRAT_CLI) + " " + arguments);
}

TEST(CliConventions, HelpVersionAndUsageErrors) {
  fs::path dir = fs::temp_directory_path() / ("datovrat-cli-conv-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  struct Case {
    const char* arguments;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {"--version", 0, "datovrat-cli "},
      {"--help", 0, "usage: datovrat-cli <group> <command>"},
      {"", 2, "usage: datovrat-cli"},
      {"mdb --help", 0, "mdb create FILE"},
      {"mdb", 2, "missing command after 'mdb'"},
      {"nosuch", 2, "unknown command group 'nosuch'"},
      {"mdb nosuch", 2, "unknown command 'mdb nosuch'"},
      // --help on every command prints its usage and does nothing else.
      {"mdb create --help", 0, "usage: datovrat-cli mdb create FILE"},
      {"mdb create new.mdb -h", 0, "usage: datovrat-cli mdb create FILE"},
      {"mdb import x.mdb T \"A TEXT\" --help", 0, "usage: datovrat-cli mdb import"},
      {"source dump --help", 0, "usage: datovrat-cli source dump FILE"},
      {"copy tables out.mdb --help", 0, "Ctrl-C stops between records"},
      // Options a command does not take are usage errors, never file names.
      {"mdb create --frob", 2, "mdb create: unknown option '--frob'"},
      {"mdb tables x.mdb --sytsem", 2, "unknown option '--sytsem'"},
      {"source dump x.dbf -x", 2, "unknown option '-x'"},
      {"copy tables out.mdb A.DBF --yes", 2, "unknown option '--yes'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    Result r = Cli(c.arguments, dir);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
  }
  // None of these created a file.
  EXPECT_TRUE(fs::is_empty(dir)) << fs::directory_iterator(dir)->path();
  // After "--", "--help" is no request for help: the command itself runs and refuses.
  Result odd = Cli("mdb create -- --help", dir);
  EXPECT_EQ(odd.status, 2) << odd.output;
  fs::remove_all(dir);
}

}  // namespace
