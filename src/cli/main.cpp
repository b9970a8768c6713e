// The front end's conventions, the same for every command: --version, --help on the program,
// on a group and on a command (exit 0, nothing done), an option the command does not know is a
// usage error (exit 2) and never a file name, errors name the file they concern.
#include <iostream>
#include <map>
#include <utility>

#include "command.h"
#include "core/errors.h"

#ifndef DATOVRAT_VERSION
#define DATOVRAT_VERSION "0"
#endif

namespace cli {
namespace {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

std::map<std::pair<std::string, std::string>, std::string>& HelpTexts() {
  static std::map<std::pair<std::string, std::string>, std::string> texts;
  return texts;
}

void PrintCommand(std::ostream& out, const Command& c) {
  out << "  " << c.group << " " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
}

void PrintHelp(std::ostream& out, const std::string& only_group = {}) {
  out << "usage: datovrat-cli <group> <command> [arguments]\n"
         "       datovrat-cli <group> <command> --help\n"
         "       datovrat-cli --version\n";
  std::string group;
  for (const Command& c : Registry()) {
    if (!only_group.empty() && c.group != only_group) continue;
    if (c.group != group) {
      group = c.group;
      out << "\n";
    }
    PrintCommand(out, c);
  }
}

bool IsGroup(const std::string& name) {
  for (const Command& c : Registry())
    if (c.group == name) return true;
  return false;
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

// The options a command takes, read from its usage line ("[--json]", "[--param NAME=VALUE]",
// "[--missing-memo=null]").
std::vector<std::string> KnownOptions(const Command& c) {
  std::vector<std::string> names;
  const std::string& u = c.usage;
  for (std::size_t at = u.find("--"); at != std::string::npos; at = u.find("--", at + 2)) {
    std::size_t end = u.find_first_of(" ]|=", at);
    names.push_back(u.substr(at, end == std::string::npos ? std::string::npos : end - at));
  }
  return names;
}

// An argument that looks like an option the command does not take; empty when all are known.
std::string UnknownOption(const Command& c, const std::vector<std::string>& args) {
  const std::vector<std::string> known = KnownOptions(c);
  for (const std::string& a : args) {
    if (a == "--") break;  // what follows is never an option
    if (a.size() < 2 || a[0] != '-') continue;
    if (a[1] >= '0' && a[1] <= '9') continue;  // a negative number is a value
    std::string name = a.substr(0, a.find('='));
    bool found = false;
    for (const std::string& k : known) found = found || k == name;
    if (!found) return a;
  }
  return {};
}

}  // namespace

bool RegisterCommand(Command command) {
  auto& commands = Registry();
  auto pos = commands.begin();
  while (pos != commands.end() &&
         std::pair(pos->group, pos->name) < std::pair(command.group, command.name))
    ++pos;
  commands.insert(pos, std::move(command));
  return true;
}

bool RegisterHelp(const std::string& group, const std::string& name, std::string text) {
  HelpTexts()[{group, name}] = std::move(text);
  return true;
}

int Main(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp(err);
    return 2;
  }
  if (IsHelp(args[0]) || args[0] == "help") {
    PrintHelp(out);
    return 0;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    out << "datovrat-cli " << DATOVRAT_VERSION << "\n";
    return 0;
  }
  if (!IsGroup(args[0])) {
    err << "datovrat-cli: unknown command group '" << args[0] << "'\n";
    PrintHelp(err);
    return 2;
  }
  if (args.size() < 2 || IsHelp(args[1]) || args[1] == "help") {
    bool asked = args.size() >= 2;
    if (!asked) err << "datovrat-cli: missing command after '" << args[0] << "'\n";
    PrintHelp(asked ? out : err, args[0]);
    return asked ? 0 : 2;
  }
  for (const Command& c : Registry()) {
    if (c.group != args[0] || c.name != args[1]) continue;
    std::vector<std::string> rest(args.begin() + 2, args.end());
    for (const std::string& a : rest) {
      if (a == "--") break;
      if (IsHelp(a)) {
        out << "usage: datovrat-cli " << c.group << " " << c.name << " " << c.usage << "\n"
            << c.summary << "\n";
        auto text = HelpTexts().find({c.group, c.name});
        if (text != HelpTexts().end()) out << "\n" << text->second;
        return 0;
      }
    }
    if (std::string unknown = UnknownOption(c, rest); !unknown.empty()) {
      err << "datovrat-cli: " << c.group << " " << c.name << ": unknown option '" << unknown
          << "'\nusage: datovrat-cli " << c.group << " " << c.name << " " << c.usage << "\n";
      return 2;
    }
    try {
      return c.run(rest, in, out, err);
    } catch (const std::exception& e) {
      err << "datovrat-cli: " << e.what() << "\n";
      return 1;
    }
  }
  err << "datovrat-cli: unknown command '" << args[0] << " " << args[1] << "'\n";
  PrintHelp(err, args[0]);
  return 2;
}

}  // namespace cli

int main(int argc, char** argv) {
  return cli::Main(argc, argv, std::cin, std::cout, std::cerr);
}
