// The real file system of the host.
#ifndef TARNEL_BASE_HOST_FILE_SYSTEM_H_
#define TARNEL_BASE_HOST_FILE_SYSTEM_H_

#include <atomic>
#include <cstdint>

#include "base/file_system.h"
#include "base/stale_temporaries.h"

namespace tarnel {

class HostFileSystem final : public FileSystem {
 public:
  std::unique_ptr<ByteSource> open_for_reading(const std::string& path) override;
  std::unique_ptr<StagedFile> stage(const std::string& path) override;
  bool make_directories(const std::string& path) override;
  std::size_t publish(std::span<StagedFile* const> files) override;
  void set_sync(bool on) override { sync_ = on; }
  std::string resolved_directory(const std::string& directory) override;
  std::optional<FileNode> file_node(const std::string& path) override;
  std::optional<std::uint64_t> content_bytes(const std::string& path) override;

 private:
  // Part of every temporary name, so names never repeat; species on several threads stage.
  std::atomic<std::uint32_t> temporaries_made_{0};
  bool sync_ = false;
  StaleTemporaries stale_temporaries_;
};

}  // namespace tarnel

#endif  // TARNEL_BASE_HOST_FILE_SYSTEM_H_
