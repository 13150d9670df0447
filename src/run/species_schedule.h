// Which species may start while others are in flight: those that share no file with an
// earlier unfinished one, as many as the jobs allow and as their inputs fit the memory.
#ifndef TARNEL_RUN_SPECIES_SCHEDULE_H_
#define TARNEL_RUN_SPECIES_SCHEDULE_H_

#include <cstdint>
#include <map>
#include <optional>
#include <queue>
#include <unordered_map>
#include <vector>

namespace tarnel {

/// What the schedule needs to know of a species before it starts.
struct SpeciesNeeds {
  std::vector<std::uint64_t> reads;   // keys of the files it reads
  std::vector<std::uint64_t> writes;  // keys of the files it writes
  /// The memory its input takes; nothing when that cannot be known ahead.
  std::optional<std::uint64_t> memory_bytes;
};

/// Species are numbered 0, 1, ... in the order they would run one after the other, and taken
/// in, in that order, once their needs are told. A species
/// waits for every earlier unfinished one that writes a file it reads or writes, or reads a
/// file it writes: two keys that are equal are taken for the same file. The first waiting
/// species whose input does not fit the memory left holds back every later one, so that it
/// cannot be overtaken for ever; one that does not fit the whole budget, or whose size is not
/// known, runs alone.
class SpeciesSchedule {
 public:
  SpeciesSchedule(std::int32_t count, std::int32_t jobs, std::uint64_t memory_budget);

  /// The next species whose needs the schedule wants to be told, in list order and only as far
  /// as it must look ahead; nothing when it knows enough for now. Finding the needs takes
  /// system calls, so several threads may each find those of one species at once.
  std::optional<std::int32_t> to_describe();
  /// The needs of a species from `to_describe`, told in any order.
  void describe(std::int32_t species, SpeciesNeeds needs);

  /// A species that may start now, taken as started; nothing when none may.
  std::optional<std::int32_t> start();

  /// The species ended for good: its files are done with.
  void end(std::int32_t species);

  /// The species ended and is to run once more, alone, before any other species starts.
  void run_again_alone(std::int32_t species);

  /// True when no other species was in flight at any time while this one ran.
  bool ran_alone(std::int32_t species) const { return !state_[index(species)].overlapped; }

 private:
  struct SpeciesState {
    std::int32_t waiting_for = 0;         // earlier unfinished species it waits for
    std::vector<std::int32_t> followers;  // later species that wait for it
    std::vector<std::uint64_t> keys;      // of the files it touches, until it ends
    std::uint64_t memory_bytes = 0;
    bool alone = false;       // runs with no other species in flight
    bool overlapped = false;  // another species was in flight while it ran
  };
  // Of the species that have not ended: a file that none of them touches is forgotten, so
  // that a list of a hundred thousand species keeps few.
  struct FileUse {
    std::int32_t last_writer = -1;
    std::vector<std::int32_t> readers;  // since the last writer
  };

  static std::size_t index(std::int32_t species) { return static_cast<std::size_t>(species); }
  void take_in(const SpeciesNeeds& needs);
  void begin(std::int32_t species);
  void stop(std::int32_t species);

  std::int32_t count_;
  std::int32_t jobs_;
  std::uint64_t budget_;
  std::int32_t handed_out_ = 0;                // species given to be described
  std::map<std::int32_t, SpeciesNeeds> told_;  // described, waiting for an earlier one
  std::vector<SpeciesState> state_;            // one per species taken in so far, in list order
  std::unordered_map<std::uint64_t, FileUse> files_;
  std::priority_queue<std::int32_t, std::vector<std::int32_t>, std::greater<>> ready_;
  std::priority_queue<std::int32_t, std::vector<std::int32_t>, std::greater<>> again_;
  std::vector<std::int32_t> running_;  // in flight
  std::uint64_t memory_in_flight_ = 0;
  bool alone_in_flight_ = false;
};

}  // namespace tarnel

#endif  // TARNEL_RUN_SPECIES_SCHEDULE_H_
