#include "base/content_size.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tarnel {
namespace {

constexpr std::size_t kHeadBytes = 14;
constexpr std::size_t kTailBytes = 4;

bool is_gzip(std::string_view head) {
  return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1f &&
         static_cast<unsigned char>(head[1]) == 0x8b;
}

// A blocked gzip file is a chain of small members, and its header says so with an extra
// field whose first subfield is "BC".
bool is_blocked(std::string_view head) {
  constexpr unsigned char kExtraField = 0x04;
  return head.size() >= kHeadBytes && (static_cast<unsigned char>(head[3]) & kExtraField) != 0 &&
         head[12] == 'B' && head[13] == 'C';
}

#ifdef _WIN32
using FileStat = struct _stat64;
int stat_path(const std::string& path, FileStat* info) { return _stat64(path.c_str(), info); }
bool is_regular(const FileStat& info) { return (info.st_mode & _S_IFMT) == _S_IFREG; }
// Reads up to `count` bytes at `offset`; the count read, or -1.
long read_at(int fd, char* bytes, unsigned count, std::uint64_t offset) {
  if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
  return _read(fd, bytes, count);
}
int open_input(const std::string& path) { return _open(path.c_str(), _O_RDONLY | _O_BINARY); }
void close_file(int fd) { _close(fd); }
#else
using FileStat = struct stat;
int stat_path(const std::string& path, FileStat* info) { return stat(path.c_str(), info); }
bool is_regular(const FileStat& info) { return S_ISREG(info.st_mode); }
long read_at(int fd, char* bytes, unsigned count, std::uint64_t offset) {
  ssize_t got;
  do {
    got = pread(fd, bytes, count, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return static_cast<long>(got);
}
int open_input(const std::string& path) { return open(path.c_str(), O_RDONLY | O_CLOEXEC); }
void close_file(int fd) { close(fd); }
#endif

}  // namespace

std::uint64_t estimate_content_bytes(std::uint64_t stored_bytes, std::string_view head,
                                     std::string_view tail) {
  if (!is_gzip(head)) return stored_bytes;
  const std::uint64_t estimate = stored_bytes * kCompressionEstimate;
  if (is_blocked(head) || tail.size() != kTailBytes) return estimate;
  std::uint64_t trailer = 0;
  for (std::size_t i = kTailBytes; i > 0; --i) {
    trailer = trailer << 8 | static_cast<unsigned char>(tail[i - 1]);
  }
  // Less than the stored size: several members, or contents of 4 GiB and more.
  return trailer >= stored_bytes ? trailer : estimate;
}

std::optional<std::uint64_t> host_content_bytes(const std::string& path) {
  FileStat info;
  if (stat_path(path, &info) != 0) return 0;  // fails at once, holding nothing
  if (!is_regular(info)) return std::nullopt;
  const auto stored = static_cast<std::uint64_t>(info.st_size);
  const int fd = open_input(path);
  if (fd < 0) return stored;
  char head[kHeadBytes];
  char tail[kTailBytes];
  const long head_size = read_at(fd, head, kHeadBytes, 0);
  const long tail_size =
      stored >= kHeadBytes + kTailBytes ? read_at(fd, tail, kTailBytes, stored - kTailBytes) : 0;
  close_file(fd);
  return estimate_content_bytes(
      stored, std::string_view(head, head_size > 0 ? static_cast<std::size_t>(head_size) : 0),
      std::string_view(tail, tail_size > 0 ? static_cast<std::size_t>(tail_size) : 0));
}

}  // namespace tarnel
