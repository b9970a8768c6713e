// The command-line front end: `datovrat-cli <group> <command> [arguments]`.
//
// Each group (mdb, source, ...) lives in its own file and registers its commands at
// start-up, so a group is added by adding a file. Commands write results to standard
// output and errors, always naming the file, to standard error; they return the exit
// status.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

struct Command {
  std::string group;    // "mdb"
  std::string name;     // "create"
  std::string usage;    // "FILE"
  std::string summary;  // one line for the help text
  std::function<int(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                    std::ostream& err)>
      run;
};

// Called from a static object in each group's file.
bool RegisterCommand(Command command);
// A longer text that `GROUP COMMAND --help` prints after the usage line.
bool RegisterHelp(const std::string& group, const std::string& name, std::string text);

// "1 record", "2 records": a count with its noun, for every message that counts.
inline std::string Plural(std::int64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

int Main(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace cli
