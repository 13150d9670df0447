// The real file system of the host.
#ifndef TARNEL_RUN_HOST_FILE_SYSTEM_H_
#define TARNEL_RUN_HOST_FILE_SYSTEM_H_

#include <cstdint>

#include "run/file_system.h"
#include "run/replaced_file_releaser.h"
#include "run/stale_temporaries.h"

namespace tarnel {

class HostFileSystem final : public FileSystem {
 public:
  std::unique_ptr<ByteSource> open_for_reading(const std::string& path) override;
  std::unique_ptr<StagedFile> stage(const std::string& path) override;
  bool make_directories(const std::string& path) override;
  std::size_t publish(std::span<StagedFile* const> files) override;
  void set_sync(bool on) override { sync_ = on; }

 private:
  std::uint32_t temporaries_made_ = 0;  // part of every temporary name, so names never repeat
  bool sync_ = false;
  ReplacedFileReleaser releaser_;
  StaleTemporaries stale_temporaries_;
};

}  // namespace tarnel

#endif  // TARNEL_RUN_HOST_FILE_SYSTEM_H_
