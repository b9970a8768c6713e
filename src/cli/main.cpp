#include <iostream>
#include <map>
#include <utility>

#include "command.h"
#include "core/errors.h"

namespace cli {
namespace {

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

void PrintHelp(std::ostream& out) {
  out << "usage: datovrat-cli <group> <command> [arguments]\n\n";
  std::string group;
  for (const Command& c : Registry()) {
    if (c.group != group) {
      group = c.group;
      out << "\n";
    }
    out << "  " << c.group << " " << c.name << " " << c.usage << "\n      " << c.summary << "\n";
  }
}

}  // namespace

bool RegisterCommand(Command command) {
  auto& commands = Registry();
  auto pos = commands.begin();
  while (pos != commands.end() && std::pair(pos->group, pos->name) < std::pair(command.group, command.name))
    ++pos;
  commands.insert(pos, std::move(command));
  return true;
}

int Main(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
    PrintHelp(args.empty() ? err : out);
    return args.empty() ? 2 : 0;
  }
  if (args.size() < 2) {
    err << "datovrat-cli: missing command after '" << args[0] << "'\n";
    return 2;
  }
  for (const Command& c : Registry()) {
    if (c.group == args[0] && c.name == args[1]) {
      try {
        return c.run(std::vector<std::string>(args.begin() + 2, args.end()), in, out, err);
      } catch (const std::exception& e) {
        err << "datovrat-cli: " << e.what() << "\n";
        return 1;
      }
    }
  }
  err << "datovrat-cli: unknown command '" << args[0] << " " << args[1] << "'\n";
  return 2;
}

}  // namespace cli

int main(int argc, char** argv) { return cli::Main(argc, argv, std::cin, std::cout, std::cerr); }
