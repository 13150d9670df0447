#include "memory_file_system.h"

#include <algorithm>
#include <cerrno>

#include "base/host.h"

namespace tarnel::testing {
namespace {

class MemorySource final : public ByteSource {
 public:
  MemorySource(std::string bytes, std::size_t block_bytes, bool fail_after_first_block)
      : bytes_(std::move(bytes)), block_bytes_(block_bytes), fail_(fail_after_first_block) {}
  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    if (fail_ && next_ >= block_bytes_) {
      errno = EIO;
      return -1;
    }
    const std::size_t n = std::min({capacity, block_bytes_, bytes_.size() - next_});
    std::copy_n(bytes_.data() + next_, n, buffer);
    next_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  std::uint64_t size_hint() const override { return bytes_.size(); }  // as a regular file's

 private:
  std::string bytes_;
  std::size_t block_bytes_;
  bool fail_;
  std::size_t next_ = 0;
};

class MemoryStaged final : public StagedFile {
 public:
  // Made under the file system's lock.
  MemoryStaged(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {
    ++fs_.staged_alive;
  }
  ~MemoryStaged() override {
    const std::lock_guard lock(fs_.guard.mutex);
    --fs_.staged_alive;
  }
  bool write(std::string_view bytes) override {
    const std::lock_guard lock(fs_.guard.mutex);
    if (fs_.write_error.count(path_) != 0 || fs_.full_once.erase(path_) != 0) ok_ = false;
    if (!ok_) errno = ENOSPC;
    if (ok_) bytes_.append(bytes);
    return ok_;
  }
  bool finish() override {
    finished_ = true;
    if (!ok_) errno = ENOSPC;
    return ok_;
  }
  // Both under the file system's lock.
  bool publishable() const { return ok_ && finished_ && fs_.publish_error.count(path_) == 0; }
  void publish() const { fs_.files[path_] = bytes_; }

 private:
  MemoryFileSystem& fs_;
  std::string path_;
  std::string bytes_;
  bool ok_ = true;
  bool finished_ = false;
};

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Windows takes both separators, so a path the tool builds with '\\' names the same file as
// the '/' path a test wrote.
std::string canonical(std::string path) {
  if (host::kWindows) std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace

std::unique_ptr<ByteSource> MemoryFileSystem::open_for_reading(const std::string& given) {
  const std::string path = canonical(given);
  const std::lock_guard lock(guard.mutex);
  const auto found = files.find(path);
  if (found == files.end()) {
    errno = ENOENT;
    return nullptr;
  }
  return std::make_unique<MemorySource>(found->second, block_bytes, read_error.count(path) != 0);
}

std::unique_ptr<StagedFile> MemoryFileSystem::stage(const std::string& given) {
  const std::string path = canonical(given);
  const std::lock_guard lock(guard.mutex);
  if (directories.count(directory_of(path)) == 0) {
    errno = ENOENT;
    return nullptr;
  }
  return std::make_unique<MemoryStaged>(*this, path);
}

bool MemoryFileSystem::make_directories(const std::string& given) {
  const std::string path = canonical(given);
  const std::lock_guard lock(guard.mutex);
  for (std::size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    directories.insert(path.substr(0, slash + 1));
  }
  if (!path.empty() && path.back() != '/') directories.insert(path + "/");
  return true;
}

std::size_t MemoryFileSystem::publish(std::span<StagedFile* const> staged) {
  const std::lock_guard lock(guard.mutex);
  for (std::size_t i = 0; i < staged.size(); ++i) {
    if (!static_cast<const MemoryStaged*>(staged[i])->publishable()) {
      errno = EPERM;
      return i;
    }
  }
  for (StagedFile* file : staged) static_cast<const MemoryStaged*>(file)->publish();
  return staged.size();
}

}  // namespace tarnel::testing
