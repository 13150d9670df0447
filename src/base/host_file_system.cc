#include "base/host_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/content_size.h"
#include "base/host.h"
#include "base/interrupt_cleanup.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>

#include "base/windows_api.h"
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
int open_new(const std::string& path, const FileStat* earlier) {
  (void)earlier;  // a new file takes its access from its directory, as a replaced one had
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
int open_in_place(const std::string& path) {
  return _open(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}
int read_some(int fd, char* buffer, std::size_t capacity) {
  const unsigned chunk = capacity > (1u << 30) ? (1u << 30) : static_cast<unsigned>(capacity);
  return _read(fd, buffer, chunk);
}
int write_some(int fd, const char* bytes, std::size_t count) {
  const unsigned chunk = count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
  return _write(fd, bytes, chunk);
}
bool close_file(int fd) { return _close(fd) == 0; }
bool flush_to_disk(int fd) { return _commit(fd) == 0; }
bool is_directory(const FileStat& info) { return (info.st_mode & _S_IFDIR) != 0; }
bool is_regular(const FileStat& info) { return (info.st_mode & _S_IFMT) == _S_IFREG; }
bool may_write(const std::string& path) { return _access(path.c_str(), 2) == 0; }
bool link_file(const std::string& existing, const std::string& link) {
  if (CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != 0) return true;
  const DWORD error = GetLastError();
  errno = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? ENOENT : EPERM;
  return false;
}
int exchange_names(const std::string&, const std::string&) {
  errno = ENOSYS;
  return -1;
}
bool rename_over(const std::string& from, const std::string& to, bool durable) {
  // rename() refuses an existing target on Windows; this form replaces it in one step. It
  // still fails while any program holds the target open without delete sharing.
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
  if (MoveFileExA(from.c_str(), to.c_str(), flags) != 0) return true;
  const DWORD error = GetLastError();
  errno = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? ENOENT : EACCES;
  return false;
}
bool remove_file(const std::string& path) { return _unlink(path.c_str()) == 0; }
// A directory cannot be flushed here: the renames into it are written through instead.
int open_directory(const std::string&) { return -1; }
unsigned process_number() { return static_cast<unsigned>(_getpid()); }
int make_directory(const std::string& path) { return _mkdir(path.c_str()); }
#else
// Repeats a call that a signal interrupted. The handlers end the run, but a stop and continue
// (Ctrl-Z, fg) interrupts calls too, on some file systems even those on files.
template <typename Call>
auto retrying(Call call) -> decltype(call()) {
  for (;;) {
    const auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

using FileStat = struct stat;
int stat_path(const std::string& path, FileStat* info) {
  return retrying([&] { return stat(path.c_str(), info); });
}
int open_input(const std::string& path) {
  return retrying([&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC); });
}
int open_new(const std::string& path, const FileStat* earlier) {
  // A new file gets what the umask leaves of 0666, as from the user's other tools. One that
  // replaces another is created with no more access than that one has, and then given its
  // group and exactly its permissions. Either may be refused (a group the user is not in, a
  // file system without them); the file then still allows no more than the earlier one.
  const mode_t mode = earlier != nullptr ? earlier->st_mode & 0777 : 0666;
  const int fd =
      retrying([&] { return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode); });
  if (fd >= 0 && earlier != nullptr) {
    retrying([&] { return fchown(fd, static_cast<uid_t>(-1), earlier->st_gid); });
    retrying([&] { return fchmod(fd, mode); });
  }
  return fd;
}
int open_in_place(const std::string& path) {
  return retrying([&] { return open(path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC); });
}
ssize_t read_some(int fd, char* buffer, std::size_t capacity) {
  return retrying([&] { return read(fd, buffer, capacity); });
}
ssize_t write_some(int fd, const char* bytes, std::size_t count) {
  return retrying([&] { return write(fd, bytes, count); });
}
// Never repeated: Linux has let go of the handle even when a signal interrupted the close, and
// the bytes were handed over by then.
bool close_file(int fd) { return close(fd) == 0 || errno == EINTR; }
bool flush_to_disk(int fd) {
  return retrying([&] { return fsync(fd); }) == 0;
}
bool is_directory(const FileStat& info) { return S_ISDIR(info.st_mode); }
bool is_regular(const FileStat& info) { return S_ISREG(info.st_mode); }
bool may_write(const std::string& path) {
  return retrying([&] { return access(path.c_str(), W_OK); }) == 0;
}
bool link_file(const std::string& existing, const std::string& link) {
  return retrying([&] { return ::link(existing.c_str(), link.c_str()); }) == 0;
}
// Swaps two names in one step; fails with EINVAL or ENOSYS where that cannot be done.
int exchange_names(const std::string& one, const std::string& other) {
#ifdef RENAME_EXCHANGE
  return retrying(
      [&] { return renameat2(AT_FDCWD, one.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE); });
#else
  (void)one;
  (void)other;
  errno = ENOSYS;
  return -1;
#endif
}
bool rename_over(const std::string& from, const std::string& to, bool) {
  return retrying([&] { return std::rename(from.c_str(), to.c_str()); }) == 0;
}
bool remove_file(const std::string& path) {
  return retrying([&] { return unlink(path.c_str()); }) == 0;
}
int open_directory(const std::string& directory) {
  return retrying([&] {
    return open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  });
}
unsigned process_number() { return static_cast<unsigned>(getpid()); }
int make_directory(const std::string& path) { return mkdir(path.c_str(), 0777); }
#endif

#ifdef _WIN32
// Links are left to Windows, which renames over a link rather than through it.
bool find_target(std::string& path, FileStat& info, bool& exists) {
  exists = stat_path(path, &info) == 0;
  return true;
}
#else
// The system's own limit on the links one lookup follows.
constexpr int kMostLinks = 40;

// Whether opening a path may follow this link, found in this directory. Not in a directory
// that everyone may write to but only owners remove from (like /tmp), when neither the user
// nor the directory's owner made the link: that is how the system shields a program from links
// laid there for it, and replacing the file a link leads to would be the same trap. Applied
// whether or not the system applies it.
bool may_follow(const FileStat& link, const FileStat& directory) {
  constexpr mode_t kShared = S_ISVTX | S_IWOTH;
  return (directory.st_mode & kShared) != kShared || link.st_uid == geteuid() ||
         link.st_uid == directory.st_uid;
}

bool read_link(const std::string& path, std::size_t size, std::string& target) {
  target.resize(size + 1);  // room to tell that the link has not grown since
  for (;;) {
    const ssize_t got =
        retrying([&] { return readlink(path.c_str(), target.data(), target.size()); });
    if (got <= 0) return false;
    if (static_cast<std::size_t>(got) < target.size()) {
      target.resize(static_cast<std::size_t>(got));
      return true;
    }
    target.resize(target.size() * 2);
  }
}

// Follows the links at `path` as opening it to write would, so that the file at their end is
// replaced and they stay links. `path` then names that file, which need not exist yet (a link
// that leads nowhere); false where the open would fail.
bool find_target(std::string& path, FileStat& info, bool& exists) {
  for (int links = 0; links <= kMostLinks; ++links) {
    if (retrying([&] { return lstat(path.c_str(), &info); }) != 0) {
      exists = false;
      return errno == ENOENT;  // a missing directory is told when the file is created
    }
    if (!S_ISLNK(info.st_mode)) {
      exists = true;
      return true;
    }
    const std::string directory = directory_part(path);
    FileStat parent;
    std::string target;
    if (stat_path(directory.empty() ? "." : directory, &parent) != 0 || !may_follow(info, parent) ||
        !read_link(path, static_cast<std::size_t>(info.st_size), target)) {
      return false;
    }
    path = target.front() == '/' ? target : directory + target;
  }
  return false;  // links in a loop
}
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
  /// With `temporary` empty, `fd` is open on the final path itself, which names no stored file.
  HostStagedFile(int fd, std::string temporary, int ticket, std::string final_path, bool sync)
      : fd_(fd),
        temporary_(std::move(temporary)),
        final_path_(std::move(final_path)),
        ticket_(ticket),
        sync_(sync) {}
  HostStagedFile(const HostStagedFile&) = delete;
  HostStagedFile& operator=(const HostStagedFile&) = delete;

  ~HostStagedFile() override {
    if (fd_ >= 0) close_file(fd_);
    if (state_ == State::kStaged && !in_place()) remove_file(temporary_);
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
      if (sync_ && !flush_to_disk(fd_)) ok_ = false;
      if (!close_file(fd_)) ok_ = false;
      fd_ = -1;
    }
    return ok_;
  }

  bool in_place() const { return temporary_.empty(); }
  const std::string& final_path() const { return final_path_; }

  // The steps of publishing. The first gives the new file the final name, keeping an earlier
  // file there at another name; it fails leaving both as they were. Then either the earlier
  // file is let go or it takes its name back.
  bool take_final_name() {
    if (!ok_ || fd_ >= 0) return false;
    if (in_place()) return true;
    if (exchange_names(temporary_, final_path_) == 0) return named(temporary_);
    if (errno == ENOENT) return take_free_name();
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot swap two names: the earlier file gets a second name and the new
    // one is renamed over it, or where there are no hard links, it steps aside first, and only
    // a crash before the next rename leaves the final path empty.
    std::string aside = temporary_ + '~';
    if (link_file(final_path_, aside)) {
      if (rename_over(temporary_, final_path_, sync_)) return named(std::move(aside));
      remove_file(aside);
      return false;
    }
    if (errno == ENOENT) return take_free_name();
    if (!rename_over(final_path_, aside, sync_)) return false;
    if (rename_over(temporary_, final_path_, sync_)) return named(std::move(aside));
    if (!rename_over(aside, final_path_, sync_)) state_ = State::kStuck;
    return false;
  }

  void give_back() {
    if (state_ != State::kNamed) return;
    const bool back =
        aside_.empty() ? remove_file(final_path_) : rename_over(aside_, final_path_, sync_);
    state_ = back ? State::kWithdrawn : State::kStuck;
  }

  void let_earlier_go() {
    if (state_ != State::kNamed) return;
    if (!aside_.empty()) remove_file(aside_);
    state_ = State::kPublished;
  }

 private:
  enum class State {
    kStaged,     // the new file at the temporary name, the final path untouched
    kNamed,      // the new file at the final path, an earlier one at `aside_`
    kPublished,  // and the earlier one gone
    kWithdrawn,  // the final path as it was, the new file gone
    kStuck,      // a rename back failed: the names are left as they are, nothing removed
  };

  bool take_free_name() {
    return rename_over(temporary_, final_path_, sync_) && named(std::string());
  }
  bool named(std::string aside) {
    aside_ = std::move(aside);
    state_ = State::kNamed;
    return true;
  }

  int fd_;
  std::string temporary_;
  std::string final_path_;
  std::string aside_;  // where the earlier file is while named; empty when there was none
  int ticket_;
  bool sync_;
  bool ok_ = true;
  State state_ = State::kStaged;
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
  return std::make_unique<FileSource>(
      fd, is_regular(info) && info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0);
}

std::unique_ptr<StagedFile> HostFileSystem::stage(const std::string& path) {
  std::string target = path;
  FileStat earlier;
  bool exists = false;
  if (!find_target(target, earlier, exists)) return nullptr;
  if (exists) {
    // Refuse what opening the file to write would refuse: a directory or a protected file.
    if (is_directory(earlier)) {
      errno = EISDIR;
      return nullptr;
    }
    if (!may_write(target)) return nullptr;
    if (!is_regular(earlier)) {
      // A FIFO or a device keeps no file to replace: it takes the bytes as they come, as from
      // any program that writes to it. Opening a FIFO waits for its reader.
      const int fd = open_in_place(target);
      if (fd < 0) return nullptr;
      return std::make_unique<HostStagedFile>(fd, std::string(), -1, std::move(target), false);
    }
  }

  const std::string directory = directory_part(target);
  stale_temporaries_.remove_once(directory);
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Short names: the final name may already be near the file-name limit.
    std::string temporary = directory + ".tn";
    append_base36(temporary, process_number());
    temporary.push_back('-');
    append_base36(temporary, temporaries_made_.fetch_add(1));
    // Species on other threads go on while an interruption is handled: it waits for this.
    const interrupt_cleanup::Deferral deferral;
    if (deferral.interrupted()) return nullptr;
    // Noted before it exists, so that an interruption at any moment removes it.
    const int ticket = interrupt_cleanup::remember(temporary);
    const int fd = open_new(temporary, exists ? &earlier : nullptr);
    if (fd >= 0) {
      return std::make_unique<HostStagedFile>(fd, std::move(temporary), ticket, std::move(target),
                                              sync_);
    }
    const int error = errno;
    interrupt_cleanup::forget(ticket);
    if (error != EEXIST) return nullptr;
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

std::size_t HostFileSystem::publish(std::span<StagedFile* const> files) {
  const auto host = [files](std::size_t i) -> HostStagedFile& {
    return static_cast<HostStagedFile&>(*files[i]);
  };
  {
    interrupt_cleanup::Deferral deferral;
    if (deferral.interrupted()) {
      errno = EINTR;  // the run is ending: the handler may have looked at the temporaries
      return 0;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (!host(i).take_final_name()) {
        const int error = errno;  // the reason, whatever putting the others back sets
        for (std::size_t j = i; j-- > 0;) host(j).give_back();
        errno = error;
        return i;
      }
    }
    for (std::size_t i = 0; i < files.size(); ++i) host(i).let_earlier_go();
  }
  if (sync_) {
    // The renames last once their directories are flushed; each directory once, as the kinds
    // of file often share one.
    std::vector<std::string> flushed;
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (host(i).in_place()) continue;
      std::string directory = directory_part(host(i).final_path());
      if (std::find(flushed.begin(), flushed.end(), directory) != flushed.end()) continue;
      // The outputs are complete and named by now: a directory that cannot be flushed leaves
      // them as safe as a run without the option would.
      const int handle = open_directory(directory);
      if (handle >= 0) {
        flush_to_disk(handle);
        close_file(handle);
      }
      flushed.push_back(std::move(directory));
    }
  }
  return files.size();
}

std::string HostFileSystem::resolved_directory(const std::string& directory) {
  return host_resolved_directory(directory);
}

std::optional<FileNode> HostFileSystem::file_node(const std::string& path) {
  return host_file_node(path);
}

std::optional<std::uint64_t> HostFileSystem::content_bytes(const std::string& path) {
  return host_content_bytes(path);
}

}  // namespace tarnel
