// A file system held in memory, for the tests and the fuzz targets alike: they drive the same
// code as the tool but never touch the disk, so a run is fast and repeatable.
#ifndef TARNEL_TESTS_MEMORY_FILE_SYSTEM_H_
#define TARNEL_TESTS_MEMORY_FILE_SYSTEM_H_

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>

#include "base/file_system.h"

namespace tarnel::testing {

/// A mutex that a copy of its owner does not share: each copy locks its own.
struct OwnMutex {
  OwnMutex() = default;
  OwnMutex(const OwnMutex&) {}
  OwnMutex& operator=(const OwnMutex&) { return *this; }
  std::mutex mutex;
};

/// Files as a map from path to bytes. Directories exist when listed; a file can be created only
/// in one that does. Failures can be injected per path; staged files only reach `files` when
/// published, all of a publication or none. Species on several threads may use it at once; the
/// tests read its members once the run is over.
class MemoryFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::set<std::string> directories{""};
  std::set<std::string> read_error;     // reading fails after one block's worth
  std::set<std::string> write_error;    // writes fail
  std::set<std::string> full_once;      // the first file staged at the path meets a full disk
  std::set<std::string> publish_error;  // the final rename fails
  std::size_t block_bytes = 1 << 20;    // largest block a read returns
  int staged_alive = 0;                 // staged files not yet destroyed
  OwnMutex guard;                       // over every member while a run goes on

  std::unique_ptr<ByteSource> open_for_reading(const std::string& path) override;
  std::unique_ptr<StagedFile> stage(const std::string& path) override;
  bool make_directories(const std::string& path) override;
  std::size_t publish(std::span<StagedFile* const> staged) override;
  void set_sync(bool) override {}
};

}  // namespace tarnel::testing

#endif  // TARNEL_TESTS_MEMORY_FILE_SYSTEM_H_
