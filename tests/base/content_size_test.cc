#include "base/content_size.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

// A gzip header: magic, method, flags (4: an extra field follows), time, flags, system.
std::string gzip_head(char flags, const std::string& extra = "") {
  return std::string("\x1f\x8b\x08", 3) + flags + std::string(6, '\0') + extra;
}

TEST(ContentSizeTest, AGzipTrailerTellsTheSizeOfOneMember) {
  const std::string kLittle1000("\xe8\x03\x00\x00", 4);
  const struct {
    const char* name;
    std::uint64_t stored;
    std::string head;
    std::string tail;
    std::uint64_t content;
  } kCases[] = {
      {"plain", 500, ">P1\nMKV", "KV\n", 500},
      {"one member", 300, gzip_head(0), kLittle1000, 1000},
      {"a trailer below the stored size: several members", 2000, gzip_head(0), kLittle1000, 8000},
      {"blocks", 300,
       gzip_head(4, std::string("\x06\x00"
                                "BC",
                                4)),
       kLittle1000, 1200},
      {"another extra field", 300,
       gzip_head(4, std::string("\x06\x00"
                                "XY",
                                4)),
       kLittle1000, 1000},
      {"too short for a trailer", 3, gzip_head(0).substr(0, 3), "", 12},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.content, estimate_content_bytes(c.stored, c.head, c.tail));
  }
}

TEST(ContentSizeTest, ReadsTheHostsFiles) {
  const fs::path dir = fs::temp_directory_path() / "tarnel-content-size";
  fs::create_directories(dir);
  const std::string gzip = gzip_head(0) + std::string(10, 'x') + std::string("\x40\x42\x0f\x00", 4);
  std::ofstream((dir / "a.gz").string(), std::ios::binary) << gzip;
  std::ofstream((dir / "a.fa").string(), std::ios::binary) << ">P\nMK\n";
  EXPECT_EQ(host_content_bytes((dir / "a.gz").string()), 1000000u);
  EXPECT_EQ(host_content_bytes((dir / "a.fa").string()), 6u);
  EXPECT_EQ(host_content_bytes((dir / "missing").string()), 0u);
  EXPECT_EQ(host_content_bytes(dir.string()), std::nullopt);  // not a regular file
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarnel
