// The floor for a run over a collection: one process that copies every given file to an
// output directory with 1 MiB block reads and writes, and does nothing else. A tool that reads
// and writes each byte once cannot be faster than this by much.
//
//   copy_floor OUTPUT_DIR FILE...
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

bool copy_file(const char* from, const std::string& to, char* buffer) {
  const int in = open(from, O_RDONLY);
  if (in < 0) return false;
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (out < 0) {
    close(in);
    return false;
  }
  bool ok = true;
  for (;;) {
    const ssize_t got = read(in, buffer, kBlockBytes);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t put = 0; put < got;) {
      const ssize_t n = write(out, buffer + put, static_cast<std::size_t>(got - put));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      put += n;
    }
    if (!ok) break;
  }
  close(in);
  return close(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR FILE...\n", argv[0]);
    return 2;
  }
  const std::string directory = std::string(argv[1]) + "/";
  const std::unique_ptr<char[]> buffer(new char[kBlockBytes]);
  int failures = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string path = argv[i];
    const std::size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!copy_file(argv[i], directory + base, buffer.get())) {
      std::perror(argv[i]);
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
