#include "base/stale_temporaries.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include "base/windows_api.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <ctime>
#endif

namespace tarnel {
namespace {

constexpr std::int64_t kStaleSeconds = 10 * 60;

// The number that `digits` spell, only if they spell it exactly as temporary names are made:
// lower-case base 36 with no leading zero, within 32 bits.
std::optional<std::uint32_t> base36(std::string_view digits) {
  std::uint32_t value;
  const auto read = std::from_chars(digits.data(), digits.data() + digits.size(), value, 36);
  if (read.ec != std::errc()) return std::nullopt;
  char spelled[8];
  const char* const spelled_end = std::to_chars(spelled, spelled + sizeof spelled, value, 36).ptr;
  if (std::string_view(spelled, static_cast<std::size_t>(spelled_end - spelled)) != digits) {
    return std::nullopt;
  }
  return value;
}

// The process number in a temporary's name, or nothing for any other name.
std::optional<std::uint32_t> temporary_process(std::string_view name) {
  constexpr std::string_view kPrefix = ".tn";
  if (!name.starts_with(kPrefix)) return std::nullopt;
  name.remove_prefix(kPrefix.size());
  const std::size_t dash = name.find('-');
  if (dash == std::string_view::npos || !base36(name.substr(dash + 1))) return std::nullopt;
  return base36(name.substr(0, dash));
}

#ifdef _WIN32
bool runs_here(std::uint32_t process) {
  const HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
  // Only a number that names no process at all counts as gone; a refusal means it runs.
  if (handle == nullptr) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD exit_code = 0;
  // An ended process that someone still holds a handle on has an exit code.
  const bool running = GetExitCodeProcess(handle, &exit_code) == 0 || exit_code == STILL_ACTIVE;
  CloseHandle(handle);
  return running;
}

std::int64_t ticks(const FILETIME& time) {  // 100 ns units
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

void remove_stale(const std::string& directory) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((directory + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint32_t own = GetCurrentProcessId();
  do {
    const std::optional<std::uint32_t> process = temporary_process(found.cFileName);
    if (!process || *process == own) continue;
    const std::string path = directory + found.cFileName;
    // The file's own record, not the directory listing's copy, which NTFS updates lazily
    // while the file is open.
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) == 0) continue;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    if (ticks(now) - ticks(info.ftLastWriteTime) < kStaleSeconds * 10'000'000) continue;
    if (!runs_here(*process)) DeleteFileA(path.c_str());
  } while (FindNextFileA(search, &found) != 0);
  FindClose(search);
}
#else
bool runs_here(std::uint32_t process) {
  if (process > static_cast<std::uint32_t>(std::numeric_limits<pid_t>::max())) return false;
  // EPERM: a process of another user.
  return kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH;
}

void remove_stale(const std::string& directory) {
  DIR* listing;
  do {
    listing = opendir(directory.empty() ? "." : directory.c_str());
  } while (listing == nullptr && errno == EINTR);
  if (listing == nullptr) return;
  const int fd = dirfd(listing);
  const std::time_t now = std::time(nullptr);
  const auto own = static_cast<std::uint32_t>(getpid());
  const bool known = fd >= 0 && now != static_cast<std::time_t>(-1);
  for (const dirent* entry; known && (entry = readdir(listing)) != nullptr;) {
    const std::optional<std::uint32_t> process = temporary_process(entry->d_name);
    if (!process || *process == own) continue;
    struct stat info;
    int result;
    do {
      result = fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW);
    } while (result != 0 && errno == EINTR);
    if (result != 0 || !S_ISREG(info.st_mode) || now - info.st_mtime < kStaleSeconds) continue;
    if (runs_here(*process)) continue;
    do {
      result = unlinkat(fd, entry->d_name, 0);
    } while (result != 0 && errno == EINTR);
  }
  closedir(listing);
}
#endif

}  // namespace

void StaleTemporaries::remove_once(const std::string& directory) {
  {
    const std::lock_guard lock(mutex_);
    if (!scanned_.insert(directory).second) return;
  }
  remove_stale(directory);
}

}  // namespace tarnel
