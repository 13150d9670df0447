#include "base/host_capacity.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <string>
#include <tuple>

namespace tarnel {
namespace {

TEST(HostCapacityTest, ControlGroupLimitsOfTheGroupAndEveryGroupAbove) {
  // Files as "path=contents;...": /proc/self/cgroup as "cgroup", the others below
  // /sys/fs/cgroup; then the processors and the memory they allow.
  using Limits =
      std::tuple<const char*, const char*, std::optional<int>, std::optional<std::uint64_t>>;
  const Limits kCases[] = {
      {"v2: a quota rounded up, a parent's memory limit",
       "cgroup=0::/a/b;/a/b/cpu.max=150000 100000;/a/b/memory.max=max;/a/memory.max=1073741824", 2,
       1024ull << 20},
      {"v2: the parent's quota is smaller",
       "cgroup=0::/a/b;/a/b/cpu.max=400000 100000;/a/cpu.max=100000 100000", 1, std::nullopt},
      {"v2 in a container that sees its group as the root",
       "cgroup=0::/;/cpu.max=50000 100000;/memory.max=536870912", 1, 512ull << 20},
      {"v1 beside an empty unified hierarchy",
       "cgroup=4:memory:/x\n1:cpu,cpuacct:/y\n0::/;/cpu/y/cpu.cfs_quota_us=300000;"
       "/cpu/y/cpu.cfs_period_us=100000;/memory/x/memory.limit_in_bytes=9223372036854771712",
       3, std::nullopt},
      {"v1: no quota, a memory limit at the mount's root",
       "cgroup=3:memory:/docker/abc\n2:cpu:/docker/abc;/cpu/cpu.cfs_quota_us=-1;"
       "/cpu/cpu.cfs_period_us=100000;/memory/memory.limit_in_bytes=268435456",
       std::nullopt, 256ull << 20},
  };
  for (const auto& [name, files, processors, memory] : kCases) {
    SCOPED_TRACE(name);
    const TextFileReader read = [&](const std::string& path) -> std::optional<std::string> {
      const std::string file = path == "/proc/self/cgroup" ? "cgroup" : path.substr(14);
      const std::string all = ";" + std::string(files) + ";";
      const std::size_t at = all.find(";" + file + "=");
      if (at == std::string::npos) return std::nullopt;
      const std::size_t start = at + file.size() + 2;
      return all.substr(start, all.find(';', start) - start) + "\n";
    };
    EXPECT_EQ(processors, cgroup_processor_limit(read));
    EXPECT_EQ(memory, cgroup_memory_limit(read));
  }
  // Whatever limits this host has, they leave a processor and some memory.
  const HostCapacity capacity = measure_host_capacity();
  EXPECT_TRUE(capacity.processors >= 1 && capacity.memory_bytes > 0);
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // An address-space limit (ulimit -v) bounds it too; sanitizers reserve more than any such.
  rlimit saved{};
  ASSERT_EQ(0, getrlimit(RLIMIT_AS, &saved));
  rlimit lowered = saved;
  lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, capacity.memory_bytes / 2);
  ASSERT_EQ(0, setrlimit(RLIMIT_AS, &lowered));
  const std::uint64_t limited = measure_host_capacity().memory_bytes;
  setrlimit(RLIMIT_AS, &saved);
  EXPECT_LE(limited, lowered.rlim_cur);
#endif
}

}  // namespace
}  // namespace tarnel
