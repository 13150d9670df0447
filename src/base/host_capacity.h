// How much of the machine a run may use: its processors and its memory, as the operating
// system, a container's control group and the process's limits allow.
#ifndef TARNEL_BASE_HOST_CAPACITY_H_
#define TARNEL_BASE_HOST_CAPACITY_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tarnel {

struct HostCapacity {
  std::int32_t processors = 1;     // that the process may run on at once
  std::uint64_t memory_bytes = 0;  // that the process may fill; 0 when nothing tells
};

/// The host's capacity: the processors of the process's CPU affinity, fewer where a control
/// group's CPU quota allows fewer (rounded up); the smallest of the physical memory, the
/// control group's memory limit and the address-space limit.
HostCapacity measure_host_capacity();

/// Reads a small text file whole, as the kernel's /proc and /sys files are read; nothing when
/// it cannot be read.
using TextFileReader = std::function<std::optional<std::string>(const std::string& path)>;

/// The CPU quota of the process's control group and every group above it, in processors
/// rounded up (v2 cpu.max, v1 cpu.cfs_quota_us over cpu.cfs_period_us); nothing when none is
/// set. `read` reaches /proc/self/cgroup and the files under /sys/fs/cgroup.
std::optional<std::int32_t> cgroup_processor_limit(const TextFileReader& read);

/// The memory limit of the process's control group and every group above it (v2 memory.max,
/// v1 memory.limit_in_bytes); nothing when none is set.
std::optional<std::uint64_t> cgroup_memory_limit(const TextFileReader& read);

}  // namespace tarnel

#endif  // TARNEL_BASE_HOST_CAPACITY_H_
