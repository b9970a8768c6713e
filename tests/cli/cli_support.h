// What the command-line tests share: running a shell command with its output and exit status,
// and quoting a path for the shell.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace cli_test {

struct Result {
  int status = -1;
  std::string output;  // standard output and standard error together
};

inline Result Shell(const std::string& command) {
  Result r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int raw = pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

// Single quotes, with any single quote inside kept.
inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace cli_test
