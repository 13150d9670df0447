// The timing loop the benchmark programs share.
#ifndef TARNEL_BENCH_MEDIAN_TIME_H_
#define TARNEL_BENCH_MEDIAN_TIME_H_

#include <algorithm>
#include <chrono>
#include <vector>

namespace tarnel::bench {

/// Runs `prepare` then times `measured`, `repeats` times; returns the median in milliseconds.
/// The median rather than the mean, so that one run disturbed by another process does not count.
template <typename Prepare, typename Measured>
double median_millis(int repeats, Prepare prepare, Measured measured) {
  std::vector<double> times;
  for (int r = 0; r < repeats; ++r) {
    prepare();
    const auto start = std::chrono::steady_clock::now();
    measured();
    const auto stop = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace tarnel::bench

#endif  // TARNEL_BENCH_MEDIAN_TIME_H_
