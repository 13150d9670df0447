// The mechanisms that are there only for speed, each of which a build can leave out (the
// options are in cmake/performance_switches.cmake) so that bench/ablation.sh can show what it
// gains. Leaving one out changes no output, only the time and memory a run takes.
#ifndef TARNEL_BASE_PERFORMANCE_SWITCHES_H_
#define TARNEL_BASE_PERFORMANCE_SWITCHES_H_

// Each value comes from a definition that the build makes, so a build that forgets one fails.
namespace tarnel::performance {

inline constexpr bool kSpareChunk = TARNEL_SPARE_CHUNK != 0;
inline constexpr bool kHugePages = TARNEL_HUGE_PAGES != 0;
inline constexpr bool kBlockWriter = TARNEL_BLOCK_WRITER != 0;
inline constexpr bool kPrefetch = TARNEL_PREFETCH != 0;
inline constexpr bool kOrderBeside = TARNEL_ORDER_BESIDE != 0;
inline constexpr bool kFormatBeside = TARNEL_FORMAT_BESIDE != 0;
inline constexpr bool kMallopt = TARNEL_MALLOPT != 0;

}  // namespace tarnel::performance

#endif  // TARNEL_BASE_PERFORMANCE_SWITCHES_H_
