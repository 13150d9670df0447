// What makes two paths name the same file, so that species that touch one file keep their
// order when several species are in flight.
#ifndef TARNEL_BASE_FILE_IDENTITY_H_
#define TARNEL_BASE_FILE_IDENTITY_H_

#include <cstdint>
#include <optional>
#include <string>

namespace tarnel {

/// An existing file as the system knows it, whatever path reaches it.
struct FileNode {
  std::uint64_t device = 0;
  std::uint64_t node = 0;
  bool operator==(const FileNode&) const = default;
};

/// The directory with symbolic links and ".." resolved and its last separator kept, so that
/// a file name can be appended; the directory as given when it cannot be resolved (it does
/// not exist). Windows compares paths without regard to case, so there it is lower-cased.
std::string host_resolved_directory(const std::string& directory);

/// The file at `path`, following links; nothing when there is none.
std::optional<FileNode> host_file_node(const std::string& path);

}  // namespace tarnel

#endif  // TARNEL_BASE_FILE_IDENTITY_H_
