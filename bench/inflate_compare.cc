// Decompression speed of one gzip file: zlib's streaming inflate into a reused 1 MiB buffer (as
// tarnel reads) against libdeflate, which only decompresses whole buffers and so needs the
// whole compressed file and the whole decompressed text in memory at once.
//
// build: g++ -O2 -std=c++20 bench/inflate_compare.cc -o inflate_compare -lz -ldeflate
// usage: inflate_compare FILE.gz [RUNS]   (FILE.gz: a single gzip member)
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Streaming, 256 KiB of input and 1 MiB of output at a time, every member in turn.
std::uint64_t zlib_bytes(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) std::exit(2);
  std::vector<unsigned char> in(256 << 10);
  std::vector<unsigned char> out(1 << 20);
  z_stream stream{};
  inflateInit2(&stream, 16 + 15);
  std::uint64_t total = 0;
  bool eof = false;
  for (;;) {
    if (stream.avail_in == 0 && !eof) {
      stream.avail_in = static_cast<uInt>(std::fread(in.data(), 1, in.size(), file));
      stream.next_in = in.data();
      eof = stream.avail_in == 0;
    }
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_NO_FLUSH);
    total += out.size() - stream.avail_out;
    if (result == Z_STREAM_END) {
      if (stream.avail_in == 0) {
        stream.avail_in = static_cast<uInt>(std::fread(in.data(), 1, in.size(), file));
        stream.next_in = in.data();
        if (stream.avail_in == 0) break;
      }
      inflateReset(&stream);
    } else if (result != Z_OK) {
      std::exit(3);
    }
  }
  inflateEnd(&stream);
  std::fclose(file);
  return total;
}

// Whole buffers: the file read at once and decompressed into a buffer sized from the length in
// its trailer, which only works for a single member smaller than 4 GiB.
std::uint64_t libdeflate_bytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> in((std::istreambuf_iterator<char>(file)),
                                      std::istreambuf_iterator<char>());
  if (in.size() < 18) std::exit(4);
  const unsigned char* trailer = in.data() + in.size() - 4;
  const std::size_t size =
      trailer[0] | trailer[1] << 8 | trailer[2] << 16 | static_cast<std::size_t>(trailer[3]) << 24;
  std::vector<unsigned char> out(size);
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  std::size_t out_used = 0;
  if (libdeflate_gzip_decompress(decompressor, in.data(), in.size(), out.data(), out.size(),
                                 &out_used) != LIBDEFLATE_SUCCESS) {
    std::exit(4);
  }
  libdeflate_free_decompressor(decompressor);
  return out_used;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.gz [RUNS]\n", argv[0]);
    return 1;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  double best_zlib = 1e9;
  double best_libdeflate = 1e9;
  std::uint64_t bytes = 0;
  for (int run = 0; run < runs; ++run) {
    auto start = std::chrono::steady_clock::now();
    bytes = zlib_bytes(argv[1]);
    best_zlib = std::min(best_zlib, seconds_since(start));
    start = std::chrono::steady_clock::now();
    if (libdeflate_bytes(argv[1]) != bytes) return 5;
    best_libdeflate = std::min(best_libdeflate, seconds_since(start));
  }
  std::printf("%llu bytes: zlib %.3f s (%.0f MB/s), libdeflate %.3f s (%.0f MB/s)\n",
              static_cast<unsigned long long>(bytes), best_zlib, bytes / best_zlib / 1e6,
              best_libdeflate, bytes / best_libdeflate / 1e6);
  return 0;
}
