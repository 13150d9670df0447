#include "run/parallel_species.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "base/background_thread.h"
#include "base/host.h"
#include "base/interrupt_cleanup.h"
#include "run/run_settings.h"
#include "run/species_schedule.h"

namespace tarnel {
namespace {

static_assert(kMostJobs * 3 + 1 <= interrupt_cleanup::kCapacity,
              "every temporary of every species in flight, and the report's, can be removed");

constexpr std::size_t kDescribedAtOnce = 8;
constexpr std::size_t kMostAtOnce = 16;

// Failures that other species in flight may have caused, and that the species alone may not
// meet: they depend on what else the run held at the time.
bool is_shared_shortage(int error) {
#ifdef EDQUOT
  if (error == EDQUOT) return true;
#endif
  return error == ENOSPC || error == ENOMEM;
}

// Keys of a file for the schedule: one for its resolved path, one for the existing file. Two
// different files whose keys collide only keep an order they did not need.
std::uint64_t path_key(std::string_view resolved_path) {
  return std::hash<std::string_view>{}(resolved_path) << 1;
}
std::uint64_t node_key(const FileNode& node) {
  std::uint64_t mixed = node.device * 0x9e3779b97f4a7c15ULL ^ node.node;
  mixed ^= mixed >> 31;
  return mixed | 1;
}

// Tells the schedule which files each species reads and writes and how much memory its input
// takes, from the file system as it is when the species is looked at.
class NeedsOfSpecies {
 public:
  NeedsOfSpecies(const SpeciesContext& context, const std::vector<std::int32_t>& indices)
      : context_(context), indices_(indices) {}

  SpeciesNeeds operator()(std::int32_t position) {
    const auto index = static_cast<std::size_t>(indices_[static_cast<std::size_t>(position)]);
    const std::string input = context_.settings.input_path + context_.file_names[index];
    SpeciesNeeds needs;
    // A file that is not there fails its species at once, holding nothing.
    const bool there = add_keys(input, needs.reads);
    for (const std::string& output : output_paths(context_.settings, context_.names[index])) {
      add_keys(output, needs.writes);
    }
    needs.memory_bytes = there ? context_.files.content_bytes(input) : 0;
    return needs;
  }

 private:
  // True when the file is there.
  bool add_keys(const std::string& path, std::vector<std::uint64_t>& keys) {
    const std::string directory = directory_part(path);
    auto resolved = resolved_directories_.find(directory);
    if (resolved == resolved_directories_.end()) {
      // Most species share their directories: each is resolved once.
      resolved =
          resolved_directories_.emplace(directory, context_.files.resolved_directory(directory))
              .first;
    }
    std::string name = resolved->second;
    name.append(std::string_view(path).substr(directory.size()));
    if (host::kWindows) {
      for (char& c : name) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    keys.push_back(path_key(name));
    const auto node = context_.files.file_node(path);
    if (node) keys.push_back(node_key(*node));
    return node.has_value();
  }

  const SpeciesContext& context_;
  const std::vector<std::int32_t>& indices_;
  std::unordered_map<std::string, std::string> resolved_directories_;
};

// One species of the run, from the main thread's side.
struct SpeciesRun {
  std::string text;  // the species' console output, heading first
  SpeciesOutcome outcome;
  std::int64_t elapsed_millis = 0;
  bool ended = false;  // for good: its line can be printed
};

// Processes a species on the calling thread with a console of its own, over `text`: a stream
// kept by the thread, since making one takes a hold on the locale every thread shares.
void run_species(const SpeciesContext& context, std::int32_t species_index,
                 const ActivationMask& mask, const std::atomic<std::int32_t>& idle_threads,
                 std::ostringstream& text, SpeciesRun& run) {
  text.str(std::string());
  Console console(text);
  const SpeciesContext own{context.settings, context.names, context.file_names, console,
                           context.files,    context.clock, &idle_threads};
  const std::int64_t start = context.clock.now_millis();
  run.outcome = process_species(own, species_index, mask, start);
  const std::int64_t end =
      run.outcome.end_clock ? *run.outcome.end_clock : context.clock.now_millis();
  run.elapsed_millis = end - start;
  console.flush();
  run.text = text.str();
}

// Prints the rest of a species' output after its heading, line by line as the species itself
// would have.
void relay(Console& console, std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    console << text.substr(0, end);
    if (end == std::string_view::npos) {
      console.flush();
      return;
    }
    console.end_line();
    text.remove_prefix(end + 1);
  }
}

// The species threads, the calling thread among them. Each takes the next species the
// schedule lets start, processes it and ends it; whichever finds the first unprinted species
// ended prints it, and every ended one after it, in list order. No thread hands work to
// another: a species that fails at once (a missing file) takes microseconds, and a hand-over
// cost more than that.
class ParallelRun {
 public:
  ParallelRun(const SpeciesContext& context, const std::vector<std::int32_t>& indices,
              const ActivationMask& mask, const SpeciesFinished& finished)
      : context_(context),
        indices_(indices),
        mask_(mask),
        finished_(finished),
        count_(static_cast<std::int32_t>(indices.size())),
        runs_(indices.size()) {}
  ParallelRun(const ParallelRun&) = delete;
  ParallelRun& operator=(const ParallelRun&) = delete;
  ~ParallelRun() {
    {
      // Left early only when the calling thread threw; the others stop after their species.
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    startable_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  /// Runs every species on up to `jobs` threads; false, having done nothing, when no thread
  /// beside the calling one could be started.
  bool run(std::int32_t jobs, std::uint64_t memory_budget) {
    std::int32_t started = 1;  // this one
    for (; started < jobs; ++started) {
      try {
        threads_.push_back(start_background_thread([this] { work(); }));
      } catch (const std::system_error&) {
        break;
      }
    }
    if (started == 1) return false;  // one after the other serves as well
    {
      const std::lock_guard lock(mutex_);
      // In flight: a species at work on each thread, or a few quick ones taken at once.
      schedule_.emplace(count_, started * static_cast<std::int32_t>(kMostAtOnce), memory_budget);
    }
    startable_.notify_all();
    work();
    return true;
  }

 private:
  void work() {
    // Any species thread may print, and write to a console that is gone.
    take_broken_pipe_signal();
    std::ostringstream text;
    NeedsOfSpecies needs_of(context_, indices_);
    std::size_t at_once = 1;
    std::unique_lock lock(mutex_);
    startable_.wait(lock, [this] { return schedule_.has_value() || stopping_; });
    while (printed_ < count_ && !stopping_) {
      if (!printing_ && (ended(printed_) || heading_shown_ != printed_)) {
        print(lock);
      } else if (const auto first = schedule_->start()) {
        // Species that are over at once are taken a few at a time: one at a time, the lock
        // went from thread to thread for each.
        const std::vector<std::int32_t> positions =
            up_to(at_once, *first, [this] { return schedule_->start(); });
        for (const std::int32_t position : positions) {
          if (!runs_[index(position)]) runs_[index(position)] = std::make_unique<SpeciesRun>();
        }
        lock.unlock();
        bool quick = true;
        for (const std::int32_t position : positions) {
          SpeciesRun& run = *runs_[index(position)];
          run_species(context_, indices_[index(position)], mask_, idle_threads_, text, run);
          quick = quick && run.elapsed_millis == 0;  // under a millisecond
        }
        lock.lock();
        for (const std::int32_t position : positions) {
          SpeciesRun& run = *runs_[index(position)];
          if (!run.outcome.ok && is_shared_shortage(run.outcome.error) &&
              !schedule_->ran_alone(position)) {
            schedule_->run_again_alone(position);
          } else {
            schedule_->end(position);
            run.ended = true;
          }
        }
        at_once = quick ? std::min(at_once * 2, kMostAtOnce) : 1;
      } else if (const auto described_first = schedule_->to_describe()) {
        // A few at a time, looked at outside the lock: it takes system calls.
        const std::vector<std::int32_t> positions =
            up_to(kDescribedAtOnce, *described_first, [this] { return schedule_->to_describe(); });
        lock.unlock();
        std::vector<SpeciesNeeds> needs;
        for (const std::int32_t described : positions) needs.push_back(needs_of(described));
        lock.lock();
        for (std::size_t i = 0; i < positions.size(); ++i) {
          schedule_->describe(positions[i], std::move(needs[i]));
        }
      } else {
        ++idle_threads_;
        startable_.wait(lock);
        --idle_threads_;
        continue;
      }
      // What has changed may let species start, be looked at or printed.
      startable_.notify_all();
    }
  }

  // Prints, outside the lock, the species from the first unprinted on that have ended, and
  // shows the heading of the first that has not.
  void print(std::unique_lock<std::mutex>& lock) {
    printing_ = true;
    const std::int32_t from = printed_;
    std::int32_t to = from;
    while (to < count_ && ended(to)) ++to;
    const bool heading_shown = heading_shown_ == from;
    lock.unlock();
    Console& console = context_.console;
    for (std::int32_t position = from; position < to; ++position) {
      const std::string heading = heading_of(position);
      if (position != from || !heading_shown) console << heading;
      // Once ended, no other thread touches the run.
      const SpeciesRun& run = *runs_[index(position)];
      relay(console, std::string_view(run.text).substr(std::min(heading.size(), run.text.size())));
      finished_(indices_[index(position)], run.outcome, run.elapsed_millis);
    }
    if (to < count_) {
      // A species still at work shows its heading while the run waits for it.
      console << heading_of(to);
      console.flush();
    }
    lock.lock();
    for (std::int32_t position = from; position < to; ++position) runs_[index(position)].reset();
    printed_ = to;
    heading_shown_ = to;
    printing_ = false;
  }

  // `first` and what `next` gives after it, `most` at the most.
  template <typename Next>
  static std::vector<std::int32_t> up_to(std::size_t most, std::int32_t first, Next next) {
    std::vector<std::int32_t> positions{first};
    while (positions.size() < most) {
      const std::optional<std::int32_t> more = next();
      if (!more) break;
      positions.push_back(*more);
    }
    return positions;
  }

  bool ended(std::int32_t position) const {
    const std::unique_ptr<SpeciesRun>& run = runs_[index(position)];
    return run != nullptr && run->ended;
  }
  std::string heading_of(std::int32_t position) const {
    return species_heading(context_.names[index(indices_[index(position)])]);
  }
  static std::size_t index(std::int32_t position) { return static_cast<std::size_t>(position); }

  const SpeciesContext& context_;
  const std::vector<std::int32_t>& indices_;
  const ActivationMask& mask_;
  const SpeciesFinished& finished_;
  const std::int32_t count_;
  std::mutex mutex_;                               // over everything below, and each run's `ended`
  std::vector<std::unique_ptr<SpeciesRun>> runs_;  // of the species started and not printed
  std::condition_variable startable_;
  std::optional<SpeciesSchedule> schedule_;
  std::int32_t printed_ = 0;         // species whose lines are printed, from the first
  std::int32_t heading_shown_ = -1;  // the unprinted species whose heading is shown
  bool printing_ = false;            // a thread prints
  bool stopping_ = false;
  std::atomic<std::int32_t> idle_threads_{0};  // waiting for a species to start
  std::vector<std::thread> threads_;
};

}  // namespace

bool process_species_in_parallel(const SpeciesContext& context,
                                 const std::vector<std::int32_t>& indices,
                                 const ActivationMask& mask, const ParallelLimits& limits,
                                 const SpeciesFinished& finished) {
  ParallelRun run(context, indices, mask, finished);
  return run.run(std::min(limits.jobs, static_cast<std::int32_t>(indices.size())),
                 limits.memory_budget);
}

}  // namespace tarnel
