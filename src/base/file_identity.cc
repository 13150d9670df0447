#include "base/file_identity.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>

#include "base/windows_api.h"

namespace tarnel {

#ifdef _WIN32

std::string host_resolved_directory(const std::string& directory) {
  char full[MAX_PATH * 2];
  std::string resolved = directory;
  if (_fullpath(full, directory.empty() ? "." : directory.c_str(), sizeof full) != nullptr) {
    resolved = full;
  }
  for (char& c : resolved) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (!resolved.empty() && resolved.back() != '\\') resolved.push_back('\\');
  return resolved;
}

std::optional<FileNode> host_file_node(const std::string& path) {
  // No access asked for: only the file's identity is read. Directories need the backup flag.
  const HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  if (!known) return std::nullopt;
  return FileNode{information.dwVolumeSerialNumber,
                  (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

#else

std::string host_resolved_directory(const std::string& directory) {
  char* const resolved = realpath(directory.empty() ? "." : directory.c_str(), nullptr);
  if (resolved == nullptr) return directory;
  std::string text(resolved);
  std::free(resolved);
  if (text.back() != '/') text.push_back('/');
  return text;
}

std::optional<FileNode> host_file_node(const std::string& path) {
  struct stat information;
  if (stat(path.c_str(), &information) != 0) return std::nullopt;
  return FileNode{static_cast<std::uint64_t>(information.st_dev),
                  static_cast<std::uint64_t>(information.st_ino)};
}

#endif

}  // namespace tarnel
