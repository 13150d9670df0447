#include "run/host_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "run/host.h"
#include "run/interrupt_cleanup.h"
#include "run/replaced_file_releaser.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <direct.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarnel {
namespace {

#ifdef _WIN32
using FileStat = struct _stat64;
int stat_path(const std::string& path, FileStat* info) { return _stat64(path.c_str(), info); }
// Binary mode throughout: CR bytes reach the readers, and a written LF stays a single LF.
int open_input(const std::string& path) {
  return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}
int open_new(const std::string& path) {
  // Opened with delete sharing, unlike _open, so that the interrupt handler can remove the
  // temporary while it is still open; Windows then deletes it as the process ends.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) ? EEXIST : EACCES;
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    DeleteFileA(path.c_str());
    errno = EMFILE;
  }
  return fd;
}
int read_some(int fd, char* buffer, std::size_t capacity) {
  const unsigned chunk = capacity > (1u << 30) ? (1u << 30) : static_cast<unsigned>(capacity);
  return _read(fd, buffer, chunk);
}
int write_some(int fd, const char* bytes, std::size_t count) {
  const unsigned chunk = count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
  return _write(fd, bytes, chunk);
}
int close_file(int fd) { return _close(fd); }
bool is_directory(const FileStat& info) { return (info.st_mode & _S_IFDIR) != 0; }
bool may_write(const std::string& path) { return _access(path.c_str(), 2) == 0; }
bool replace_file(const std::string& from, const std::string& to) {
  // rename() refuses an existing target on Windows; this form replaces it in one step. It
  // still fails while any program holds the target open without delete sharing.
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
void remove_file(const std::string& path) { _unlink(path.c_str()); }
unsigned process_number() { return static_cast<unsigned>(_getpid()); }
int make_directory(const std::string& path) { return _mkdir(path.c_str()); }
#else
using FileStat = struct stat;
int stat_path(const std::string& path, FileStat* info) { return stat(path.c_str(), info); }
int open_input(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }
int open_new(const std::string& path) {
  // 0666 lets the umask decide, exactly as for a file the user's other tools create.
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
ssize_t read_some(int fd, char* buffer, std::size_t capacity) {
  ssize_t got;
  do {
    got = read(fd, buffer, capacity);
  } while (got < 0 && errno == EINTR);
  return got;
}
ssize_t write_some(int fd, const char* bytes, std::size_t count) {
  ssize_t put;
  do {
    put = write(fd, bytes, count);
  } while (put < 0 && errno == EINTR);
  return put;
}
int close_file(int fd) { return close(fd); }
bool is_directory(const FileStat& info) { return S_ISDIR(info.st_mode); }
bool may_write(const std::string& path) { return access(path.c_str(), W_OK) == 0; }
bool replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
void remove_file(const std::string& path) { unlink(path.c_str()); }
unsigned process_number() { return static_cast<unsigned>(getpid()); }
int make_directory(const std::string& path) { return mkdir(path.c_str(), 0777); }
#endif

class FileSource final : public ByteSource {
 public:
  FileSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~FileSource() override { close_file(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    const auto got = read_some(fd_, buffer, capacity);
    return got < 0 ? -1 : static_cast<std::ptrdiff_t>(got);
  }
  std::uint64_t size_hint() const override { return size_; }

 private:
  int fd_;
  std::uint64_t size_;
};

class HostStagedFile final : public StagedFile {
 public:
  HostStagedFile(int fd, std::string temporary, std::string final_path,
                 ReplacedFileReleaser& releaser)
      : fd_(fd),
        temporary_(std::move(temporary)),
        final_path_(std::move(final_path)),
        ticket_(interrupt_cleanup::remember(temporary_)),
        releaser_(releaser) {}
  HostStagedFile(const HostStagedFile&) = delete;
  HostStagedFile& operator=(const HostStagedFile&) = delete;

  ~HostStagedFile() override {
    if (fd_ >= 0) close_file(fd_);
    if (!published_) remove_file(temporary_);
    interrupt_cleanup::forget(ticket_);
  }

  bool write(std::string_view bytes) override {
    while (ok_ && !bytes.empty()) {
      const auto put = write_some(fd_, bytes.data(), bytes.size());
      if (put <= 0) {
        ok_ = false;
        break;
      }
      bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return ok_;
  }

  bool finish() override {
    if (fd_ >= 0) {
      if (close_file(fd_) != 0) ok_ = false;
      fd_ = -1;
    }
    return ok_;
  }

  bool publish() override {
    if (!ok_ || fd_ >= 0) return false;
    const int replaced = ReplacedFileReleaser::hold(final_path_);
    published_ = replace_file(temporary_, final_path_);
    // Had the rename failed, the held file would still be in place: closing it frees nothing.
    releaser_.release(replaced);
    return published_;
  }

 private:
  int fd_;
  std::string temporary_;
  std::string final_path_;
  int ticket_;
  ReplacedFileReleaser& releaser_;
  bool ok_ = true;
  bool published_ = false;
};

void append_base36(std::string& out, std::uint64_t value) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
    value /= 36;
  } while (value != 0);
  while (count > 0) out.push_back(digits[--count]);
}

}  // namespace

std::unique_ptr<ByteSource> HostFileSystem::open_for_reading(const std::string& path) {
  const int fd = open_input(path);
  if (fd < 0) return nullptr;
  FileStat info;
#ifdef _WIN32
  const int stat_result = _fstat64(fd, &info);
#else
  const int stat_result = fstat(fd, &info);
#endif
  if (stat_result != 0 || is_directory(info)) {
    close_file(fd);
    return nullptr;
  }
  // A pipe or a device tells nothing of its size.
  const bool regular = (info.st_mode & S_IFMT) == S_IFREG;
  return std::make_unique<FileSource>(
      fd, regular && info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0);
}

std::unique_ptr<StagedFile> HostFileSystem::stage(const std::string& path) {
  // Refuse what creating the file in place would refuse: a directory or a protected file.
  FileStat info;
  if (stat_path(path, &info) == 0 && (is_directory(info) || !may_write(path))) return nullptr;

  const std::string directory = directory_part(path);
  stale_temporaries_.remove_once(directory);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Short names: the final name may already be near the file-name limit.
    std::string temporary = directory + ".tn";
    append_base36(temporary, process_number());
    temporary.push_back('-');
    append_base36(temporary, temporaries_made_++);
    const int fd = open_new(temporary);
    if (fd >= 0) return std::make_unique<HostStagedFile>(fd, std::move(temporary), path, releaser_);
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

bool HostFileSystem::make_directories(const std::string& path) {
  // Parents first: each prefix that ends at a separator, then the whole path. A prefix that
  // exists, or cannot be made (a drive, a directory of another user's), is passed over: only
  // the result counts.
  for (std::size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && !host::is_path_separator(path[end])) continue;
    make_directory(path.substr(0, end));
  }
  FileStat info;
  return stat_path(path, &info) == 0 && is_directory(info);
}

}  // namespace tarnel
