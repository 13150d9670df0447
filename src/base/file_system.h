// The file system as the tool sees it: input files read as byte streams, and output files that
// are written aside and only take their final names once all of a species' files are complete.
// Tests substitute their own.
#ifndef TARNEL_BASE_FILE_SYSTEM_H_
#define TARNEL_BASE_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/file_identity.h"

namespace tarnel {

// Every failure leaves the system's reason in errno (0 where there is none), for the run report.

/// A stream of input bytes, read in large blocks. Nothing requires a regular file: pipes and
/// decompressors serve as well.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// Fills up to `capacity` bytes; returns the count, 0 at the end, or -1 on a read error.
  virtual std::ptrdiff_t read(char* buffer, std::size_t capacity) = 0;
  /// How many bytes the source expects to deliver, or 0 when that is not known. Only a hint,
  /// for sizing memory ahead: the reading itself never relies on it.
  virtual std::uint64_t size_hint() const { return 0; }
};

/// An output file under construction. Its bytes go to a temporary file beside the file the
/// final path names (the file a symbolic link there leads to), which `FileSystem::publish`
/// then puts in its place. A path that names no stored file (a FIFO, a device) is written to
/// directly instead, and has nothing to publish. Destroying an unpublished file removes the
/// temporary, so an earlier file at the final path stays as it was.
class StagedFile {
 public:
  virtual ~StagedFile() = default;
  /// Appends bytes; false once any write has failed.
  virtual bool write(std::string_view bytes) = 0;
  /// Closes the file, first flushing it to the disk when the file system was asked to sync;
  /// false on any error.
  virtual bool finish() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  /// Null when the path cannot be opened for reading (missing, unreadable, a directory).
  virtual std::unique_ptr<ByteSource> open_for_reading(const std::string& path) = 0;
  /// Null when no file can be created for the path (missing directory, no permission, the path
  /// names a directory or a file that may not be written, a link that may not be followed).
  virtual std::unique_ptr<StagedFile> stage(const std::string& path) = 0;
  /// Creates the directory with its missing parents; true when it exists afterwards.
  virtual bool make_directories(const std::string& path) = 0;
  /// Puts finished files staged here in place of the earlier files at their paths, all or
  /// none: returns `files.size()` once all are, or else the index of the first that cannot
  /// be, every earlier file then being as it was. Only a crash in its midst (power loss, a
  /// kill that cannot be handled) can leave some published and others not. A replaced file's
  /// permissions stay.
  virtual std::size_t publish(std::span<StagedFile* const> files) = 0;
  /// With `on`, each file is flushed to the disk before it is published, and its directory
  /// after, so that a published species outlasts a power loss. Without, nothing is flushed:
  /// the system writes the files back in its own time.
  virtual void set_sync(bool on) { (void)on; }

  // What a run learns of its files before any species starts, to process several at once.
  // The defaults know nothing: each species then runs alone.

  /// The directory (ending with its separator) with links and ".." resolved, as far as it can
  /// be: two paths name the same file when the resolved directories and the names are equal.
  virtual std::string resolved_directory(const std::string& directory) { return directory; }
  /// The existing file at the path, whatever path reaches it; nothing when there is none.
  virtual std::optional<FileNode> file_node(const std::string& path) {
    (void)path;
    return std::nullopt;
  }
  /// The bytes the file's contents take once decompressed, an estimate where it cannot tell
  /// without reading them; 0 when there is no file, nothing when no size is known ahead.
  virtual std::optional<std::uint64_t> content_bytes(const std::string& path) {
    (void)path;
    return std::nullopt;
  }
};

}  // namespace tarnel

#endif  // TARNEL_BASE_FILE_SYSTEM_H_
