// Helpers shared by the source-table tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bde/source_reader.h"
#include "core/datetime.h"
#include "core/errors.h"
#include "core/variant.h"

namespace bde_test {

inline std::string Data(const std::string& relative) {
  return std::string(DATOVRAT_TESTDATA) + "/bde/" + relative;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::unique_ptr<bde::SourceReader> Open(const std::string& relative,
                                               const bde::ReaderOptions& options = {}) {
  return bde::OpenSourceTable(Data(relative), options);
}

inline int FieldIndex(const bde::SourceReader& r, const std::string& name) {
  for (std::size_t i = 0; i < r.Fields().size(); ++i)
    if (r.Fields()[i].name == name) return static_cast<int>(i);
  ADD_FAILURE() << "no field " << name;
  return 0;
}

inline core::Variant ValueOf(bde::SourceReader& r, const std::string& name) {
  return r.Value(FieldIndex(r, name));
}

// "YYYY-MM-DD HH:MM:SS.mmm" of a date value, for comparisons with known dates.
inline std::string DateText(const core::Variant& v) {
  if (v.Type() != core::VarType::Date) return "<not a date: " + v.ToString() + ">";
  core::DateParts p = core::DecodeDateTime(v.ToDate());
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.millisecond);
  return buf;
}

inline std::vector<std::uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<std::uint8_t> out;
  for (int b : list) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

// The message of the core::Exception `f` raises, or "" when it raises none.
template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const core::Exception& e) {
    return e.what();
  }
  return "";
}

// Runs a shell command; returns its exit status and standard output.
inline int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace bde_test
