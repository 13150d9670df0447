#include "base/file_identity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tarnel {
namespace {

// Species whose inputs or outputs are one file under two names must keep their list order.
TEST(FileIdentityTest, NamesOfOneFileShareANode) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("tarnel-identity-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "a") << "x";
  std::ofstream(dir / "b") << "x";
  std::filesystem::create_hard_link(dir / "a", dir / "a-link");
  const auto a = host_file_node((dir / "a").string());
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(host_file_node((dir / "a-link").string()), a);
  EXPECT_NE(host_file_node((dir / "b").string()), a);
  EXPECT_FALSE(host_file_node((dir / "missing").string()).has_value());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarnel
