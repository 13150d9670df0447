#include "base/host_capacity.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace tarnel {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;

TEST(HostCapacityTest, ControlGroupLimitsOfTheGroupAndEveryGroupAbove) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> files;
    std::optional<std::int32_t> processors;
    std::optional<std::uint64_t> memory;
  };
  const Case kCases[] = {
      {"v2: a quota rounded up, a parent's memory limit",
       {{"/proc/self/cgroup", "0::/a/b\n"},
        {"/sys/fs/cgroup/a/b/cpu.max", "150000 100000\n"},
        {"/sys/fs/cgroup/a/b/memory.max", "max\n"},
        {"/sys/fs/cgroup/a/memory.max", "1073741824\n"}},
       2,
       1024 * kMiB},
      {"v2: the parent's quota is smaller",
       {{"/proc/self/cgroup", "0::/a/b\n"},
        {"/sys/fs/cgroup/a/b/cpu.max", "400000 100000\n"},
        {"/sys/fs/cgroup/a/cpu.max", "100000 100000\n"}},
       1,
       std::nullopt},
      {"v2: no limits",
       {{"/proc/self/cgroup", "0::/a\n"}, {"/sys/fs/cgroup/a/cpu.max", "max 100000\n"}},
       std::nullopt,
       std::nullopt},
      {"v2 in a container that sees its group as the root",
       {{"/proc/self/cgroup", "0::/\n"},
        {"/sys/fs/cgroup/cpu.max", "50000 100000\n"},
        {"/sys/fs/cgroup/memory.max", "536870912\n"}},
       1,
       512 * kMiB},
      {"v1 beside an empty unified hierarchy",
       {{"/proc/self/cgroup", "4:memory:/x\n1:cpu,cpuacct:/y\n0::/\n"},
        {"/sys/fs/cgroup/cpu/y/cpu.cfs_quota_us", "300000\n"},
        {"/sys/fs/cgroup/cpu/y/cpu.cfs_period_us", "100000\n"},
        {"/sys/fs/cgroup/memory/x/memory.limit_in_bytes", "9223372036854771712\n"}},
       3,
       std::nullopt},
      {"v1: no quota, a memory limit at the mount's root",
       {{"/proc/self/cgroup", "3:memory:/docker/abc\n2:cpu:/docker/abc\n"},
        {"/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "-1\n"},
        {"/sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000\n"},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "268435456\n"}},
       std::nullopt,
       256 * kMiB},
      {"nothing readable", {}, std::nullopt, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const TextFileReader read = [&c](const std::string& path) -> std::optional<std::string> {
      const auto found = c.files.find(path);
      if (found == c.files.end()) return std::nullopt;
      return found->second;
    };
    EXPECT_EQ(c.processors, cgroup_processor_limit(read));
    EXPECT_EQ(c.memory, cgroup_memory_limit(read));
  }
}

TEST(HostCapacityTest, TheHostHasAProcessorAndSomeMemory) {
  const HostCapacity capacity = measure_host_capacity();
  EXPECT_GE(capacity.processors, 1);
  EXPECT_GT(capacity.memory_bytes, 0u);
}

}  // namespace
}  // namespace tarnel
