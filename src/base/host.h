// Conventions of the operating system the tool was built for. Everything that differs between
// Windows and POSIX hosts in naming and paths is decided here and nowhere else.
#ifndef TARNEL_BASE_HOST_H_
#define TARNEL_BASE_HOST_H_

#include <string>
#include <string_view>

namespace tarnel::host {

#ifdef _WIN32
inline constexpr bool kWindows = true;
/// Appended to a directory that does not already end with a separator.
inline constexpr char kDirectorySeparator = '\\';
#else
inline constexpr bool kWindows = false;
inline constexpr char kDirectorySeparator = '/';
#endif

/// True for the characters after which the program name begins. Windows paths use the
/// backslash only; a POSIX shell hands us '/' paths, and a '\' is kept as a separator too so
/// that a Windows-style path given on POSIX still yields the bare name.
constexpr bool ends_program_directory(char c) {
  return kWindows ? c == '\\' : (c == '\\' || c == '/');
}

/// True for the characters that separate directories in a path the user gives.
constexpr bool is_path_separator(char c) { return c == '/' || (kWindows && c == '\\'); }

}  // namespace tarnel::host

namespace tarnel {

/// The directory part of a path, with its last separator; empty for a bare file name.
inline std::string directory_part(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (host::is_path_separator(path[i - 1])) return std::string(path.substr(0, i));
  }
  return {};
}

}  // namespace tarnel

#endif  // TARNEL_BASE_HOST_H_
