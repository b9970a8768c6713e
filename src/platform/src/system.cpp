#include "platform/system.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <climits>
#endif

namespace platform {

std::string ComputerName() {
#ifdef _WIN32
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(buffer, &size)) return {};
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string name(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(size), name.data(), bytes, nullptr,
                      nullptr);
  return name;
#else
  char buffer[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
  return buffer;
#endif
}

std::string ProgramDirectory() {
  std::error_code error;
#ifdef _WIN32
  wchar_t buffer[32768];
  DWORD size = GetModuleFileNameW(nullptr, buffer, 32768);
  if (size == 0 || size >= 32768) return {};
  std::filesystem::path exe(std::wstring(buffer, size));
#else
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
#endif
  return exe.parent_path().string();
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return !path.empty() &&
         std::filesystem::is_regular_file(
             std::filesystem::path(std::u8string(path.begin(), path.end())), error);
}

}  // namespace platform
