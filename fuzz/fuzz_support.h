// What the fuzz targets share: a check that stops the fuzzer (libFuzzer then saves the input as
// a crash), a clock that stands still, and short inputs stretched to the line limit.
#ifndef TARNEL_FUZZ_FUZZ_SUPPORT_H_
#define TARNEL_FUZZ_FUZZ_SUPPORT_H_

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "base/clock.h"
#include "memory_file_system.h"

#define TARNEL_FUZZ_CHECK(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "failed: %s\n", #condition), __builtin_trap()))

namespace tarnel::fuzz {

class ZeroClock final : public Clock {
  std::int64_t now_millis() override { return 0; }
};

/// Byte 0 picks the size of the blocks the file arrives in (pipes and slow devices read short),
/// from 1 byte to 128 KiB, around the powers of two; byte 1 how long a run around the 65,535-byte
/// line limit the first 0x7f byte of the rest, the file, becomes. Reads of one or two bytes would
/// make a stretched file crawl.
inline std::string file_bytes(const std::uint8_t* data, std::size_t size, char fill,
                              testing::MemoryFileSystem& files) {
  std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t at = bytes.find('\x7f');
  if (at != bytes.npos) bytes.replace(at, 1, 65533 + data[1] % 5, fill);
  files.block_bytes =
      std::max((2u << (data[0] % 17)) - data[0] / 128, bytes.size() > 4096 ? 7u : 1u);
  return bytes;
}

}  // namespace tarnel::fuzz

#endif  // TARNEL_FUZZ_FUZZ_SUPPORT_H_
