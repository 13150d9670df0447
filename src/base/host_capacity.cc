#include "base/host_capacity.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include "base/windows_api.h"
#else
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace tarnel {
namespace {

constexpr std::string_view kGroupRoot = "/sys/fs/cgroup";

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// A whole non-negative decimal number; nothing for "max", "-1" or anything else.
std::optional<std::uint64_t> whole_number(std::string_view text) {
  text = trimmed(text);
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// The process's group in the unified hierarchy ("0::/a/b") or in the v1 hierarchy that holds
// `controller` ("4:cpu,cpuacct:/a"), from /proc/self/cgroup.
std::optional<std::string> group_path(const TextFileReader& read, std::string_view controller) {
  const std::optional<std::string> table = read("/proc/self/cgroup");
  if (!table) return std::nullopt;
  std::string_view rest = *table;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    bool held = controller.empty() && controllers.empty();
    for (std::size_t at = 0; !controller.empty() && at <= controllers.size();) {
      const std::size_t comma = std::min(controllers.find(',', at), controllers.size());
      held = held || controllers.substr(at, comma - at) == controller;
      at = comma + 1;
    }
    if (held) return std::string(line.substr(second + 1));
  }
  return std::nullopt;
}

// The smallest limit that `limit_in(directory)` finds in the group's directory under `root`
// and in every one above it: a parent's limit binds its children too. A container often sees
// its own group as the root, whatever path /proc tells.
template <typename Value, typename Limit>
std::optional<Value> smallest_limit(const std::string& root, const std::string& group,
                                    const Limit& limit_in) {
  std::string directory = root + group;
  while (directory.size() > root.size() && directory.back() == '/') directory.pop_back();
  std::optional<Value> smallest;
  for (;;) {
    const std::optional<Value> limit = limit_in(directory);
    if (limit && (!smallest || *limit < *smallest)) smallest = limit;
    if (directory.size() <= root.size()) return smallest;
    directory.resize(std::max(directory.rfind('/'), root.size()));
  }
}

std::int32_t processors_for(std::uint64_t quota, std::uint64_t period) {
  if (period == 0) return 0;
  const std::uint64_t count = (quota + period - 1) / period;
  return static_cast<std::int32_t>(std::clamp<std::uint64_t>(count, 1, 1 << 20));
}

#ifndef _WIN32
std::optional<std::string> read_text_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}
#endif

std::int32_t affinity_processors() {
#ifdef _WIN32
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) &&
      process_mask != 0) {
    std::int32_t count = 0;
    for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
    return count;
  }
  return static_cast<std::int32_t>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
#else
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::int32_t>(std::min(online, long{1} << 20)) : 1;
#endif
}

std::uint64_t memory_limits() {
  std::uint64_t smallest = 0;
  const auto take = [&smallest](std::uint64_t bytes) {
    if (bytes != 0 && (smallest == 0 || bytes < smallest)) smallest = bytes;
  };
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) take(status.ullTotalPhys);
  // A job object, as a batch system sets up, may cap the process or the whole job.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
  if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                nullptr)) {
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) take(job.ProcessMemoryLimit);
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) take(job.JobMemoryLimit);
  }
#else
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_bytes = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_bytes > 0) {
    take(static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_bytes));
  }
  if (const auto group = cgroup_memory_limit(read_text_file)) take(*group);
  rlimit address_space{};
  if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY) {
    take(static_cast<std::uint64_t>(address_space.rlim_cur));
  }
#endif
  return smallest;
}

}  // namespace

std::optional<std::int32_t> cgroup_processor_limit(const TextFileReader& read) {
  if (const auto group = group_path(read, "")) {
    const auto limit = smallest_limit<std::int32_t>(
        std::string(kGroupRoot), *group,
        [&read](const std::string& directory) -> std::optional<std::int32_t> {
          const auto text = read(directory + "/cpu.max");  // "max 100000" or "150000 100000"
          if (!text) return std::nullopt;
          const std::string_view fields = trimmed(*text);
          const std::size_t blank = fields.find(' ');
          if (blank == std::string_view::npos) return std::nullopt;
          const auto quota = whole_number(fields.substr(0, blank));
          const auto period = whole_number(fields.substr(blank + 1));
          if (!quota || !period || *period == 0) return std::nullopt;
          return processors_for(*quota, *period);
        });
    if (limit) return limit;
  }
  if (const auto group = group_path(read, "cpu")) {
    return smallest_limit<std::int32_t>(
        std::string(kGroupRoot) + "/cpu", *group,
        [&read](const std::string& directory) -> std::optional<std::int32_t> {
          const auto quota = read(directory + "/cpu.cfs_quota_us");  // -1 when none
          const auto period = read(directory + "/cpu.cfs_period_us");
          if (!quota || !period) return std::nullopt;
          const auto quota_us = whole_number(*quota);
          const auto period_us = whole_number(*period);
          if (!quota_us || !period_us || *period_us == 0) return std::nullopt;
          return processors_for(*quota_us, *period_us);
        });
  }
  return std::nullopt;
}

std::optional<std::uint64_t> cgroup_memory_limit(const TextFileReader& read) {
  if (const auto group = group_path(read, "")) {
    const auto limit = smallest_limit<std::uint64_t>(
        std::string(kGroupRoot), *group, [&read](const std::string& directory) {
          const auto text = read(directory + "/memory.max");  // "max" when none
          return text ? whole_number(*text) : std::nullopt;
        });
    if (limit) return limit;
  }
  if (const auto group = group_path(read, "memory")) {
    return smallest_limit<std::uint64_t>(
        std::string(kGroupRoot) + "/memory", *group,
        [&read](const std::string& directory) -> std::optional<std::uint64_t> {
          const auto text = read(directory + "/memory.limit_in_bytes");
          const auto bytes = text ? whole_number(*text) : std::nullopt;
          // Without a limit, v1 reports the largest page-aligned 63-bit number.
          if (!bytes || *bytes >= (std::uint64_t{1} << 62)) return std::nullopt;
          return bytes;
        });
  }
  return std::nullopt;
}

HostCapacity measure_host_capacity() {
  HostCapacity capacity;
  capacity.processors = std::max(affinity_processors(), 1);
#ifndef _WIN32
  if (const auto quota = cgroup_processor_limit(read_text_file)) {
    capacity.processors = std::min(capacity.processors, *quota);
  }
#endif
  capacity.memory_bytes = memory_limits();
  return capacity;
}

}  // namespace tarnel
