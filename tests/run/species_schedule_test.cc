#include "run/species_schedule.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace tarnel {
namespace {

constexpr std::uint64_t kUnknown = ~std::uint64_t{0};

struct Species {
  std::vector<std::uint64_t> reads;
  std::vector<std::uint64_t> writes;
  std::uint64_t memory = 1;  // kUnknown: not known ahead
};

// Tells the needs the schedule asks for (the last asked first), starts every species that
// may start, then ends the one in flight longest, and so on; a species in `short_of_space`
// fails the first time it runs with others. The log reads "s3" for a start, "e3" for an end
// and "r3" for a species put back to run again alone.
std::string simulate(const std::vector<Species>& species, std::int32_t jobs, std::uint64_t budget,
                     std::set<std::int32_t> short_of_space = {}) {
  SpeciesSchedule schedule(static_cast<std::int32_t>(species.size()), jobs, budget);
  std::int32_t asked = 0;
  std::string log;
  std::deque<std::int32_t> in_flight;
  for (;;) {
    for (bool changed = true; changed;) {
      std::vector<std::int32_t> to_tell;
      while (const auto next = schedule.to_describe()) {
        EXPECT_EQ(*next, asked++);  // in order, each once
        to_tell.push_back(*next);
      }
      for (auto n = to_tell.rbegin(); n != to_tell.rend(); ++n) {
        const Species& s = species[static_cast<std::size_t>(*n)];
        SpeciesNeeds needs{s.reads, s.writes, s.memory};
        if (s.memory == kUnknown) needs.memory_bytes.reset();
        schedule.describe(*n, needs);
      }
      changed = !to_tell.empty();
      while (const auto started = schedule.start()) {
        log += "s" + std::to_string(*started) + " ";
        in_flight.push_back(*started);
        changed = true;
      }
    }
    if (in_flight.empty()) break;
    const std::int32_t done = in_flight.front();
    in_flight.pop_front();
    if (short_of_space.count(done) != 0 && !schedule.ran_alone(done)) {
      short_of_space.erase(done);
      schedule.run_again_alone(done);
      log += "r" + std::to_string(done) + " ";
    } else {
      schedule.end(done);
      log += "e" + std::to_string(done) + " ";
    }
  }
  EXPECT_EQ(asked, static_cast<std::int32_t>(species.size()));
  return log;
}

TEST(SpeciesScheduleTest, KeepsTheOrderOfSpeciesThatShareAFileAndStaysWithinTheMemory) {
  // Name, species, jobs, memory budget, species short of space with others, and the log.
  using Case = std::tuple<const char*, std::vector<Species>, std::int32_t, std::uint64_t,
                          std::set<std::int32_t>, std::string>;
  // One case a line.
  // clang-format off
  const Case kCases[] = {
      {"independent", {{}, {}, {}}, 2, 10, {}, "s0 s1 e0 s2 e1 e2 "},
      {"one job", {{}, {}}, 1, 10, {}, "s0 e0 s1 e1 "},
      {"the same output: a later one overtakes", {{{}, {7}}, {}, {{}, {7}}, {}}, 3, 10, {}, "s0 s1 s3 e0 s2 e1 e3 e2 "},
      {"reads what an earlier one writes", {{{}, {7}}, {{7}, {}}, {}}, 3, 10, {}, "s0 s2 e0 s1 e2 e1 "},
      {"readers of one file", {{{7}, {}}, {{7}, {}}}, 2, 10, {}, "s0 s1 e0 e1 "},
      {"writes what earlier ones read", {{{7}, {}}, {{7}, {}}, {{}, {7}}}, 3, 10, {}, "s0 s1 e0 e1 s2 e2 "},
      {"reads and writes its own file", {{{7}, {7}}, {}}, 2, 10, {}, "s0 s1 e0 e1 "},
      {"the first that does not fit holds back the rest", {{{}, {}, 6}, {{}, {}, 6}, {{}, {}, 2}}, 3, 10, {}, "s0 e0 s1 s2 e1 e2 "},
      {"too large or unknown: alone", {{}, {{}, {}, 11}, {}, {{}, {}, kUnknown}, {}}, 3, 10, {}, "s0 e0 s1 e1 s2 e2 s3 e3 s4 e4 "},
      {"exactly the budget fits", {{{}, {}, 6}, {{}, {}, 4}}, 2, 10, {}, "s0 s1 e0 e1 "},
      {"short of space with others: once more, alone", {{}, {}, {}}, 2, 10, {0}, "s0 s1 r0 e1 s0 e0 s2 e2 "},
      {"short of space alone: ended", {{}, {}}, 1, 10, {0}, "s0 e0 s1 e1 "},
  };
  // clang-format on
  for (const auto& [name, species, jobs, budget, short_of_space, log] : kCases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(log, simulate(species, jobs, budget, short_of_space));
  }
}

}  // namespace
}  // namespace tarnel
