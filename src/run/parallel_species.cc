#include "run/parallel_species.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "run/background_thread.h"
#include "run/host.h"
#include "run/interrupt_cleanup.h"
#include "run/species_schedule.h"

namespace tarnel {
namespace {

static_assert(kMostJobs * 3 + 1 <= interrupt_cleanup::kCapacity,
              "every temporary of every species in flight, and the report's, can be removed");

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
    const std::string input = context_.settings.input_path + context_.master.file_names[index];
    SpeciesNeeds needs;
    add_keys(input, needs.reads);
    for (const std::string& output :
         output_paths(context_.settings, context_.master.names[index])) {
      add_keys(output, needs.writes);
    }
    needs.memory_bytes = context_.files.content_bytes(input);
    return needs;
  }

 private:
  void add_keys(const std::string& path, std::vector<std::uint64_t>& keys) {
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
    if (const auto node = context_.files.file_node(path)) keys.push_back(node_key(*node));
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
  bool heading_shown = false;
  bool ended = false;  // for good: its line can be printed
};

// Processes a species on the calling thread with a console of its own.
void run_species(const SpeciesContext& context, std::int32_t species_index,
                 const ActivationMask& mask, SpeciesRun& run) {
  std::ostringstream text;
  Console console(text);
  const SpeciesContext own{context.settings, context.master, console, context.files, context.clock};
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

// The species threads and what passes between them and the main thread.
class Workers {
 public:
  Workers(const SpeciesContext& context, const std::vector<std::int32_t>& indices,
          const ActivationMask& mask, std::vector<SpeciesRun>& runs)
      : context_(context), indices_(indices), mask_(mask), runs_(runs) {}
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    work_waiting_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  /// Starts up to `count` threads; fewer when the system refuses more.
  std::int32_t start(std::int32_t count) {
    for (std::int32_t i = 0; i < count; ++i) {
      try {
        threads_.push_back(start_background_thread([this] { work(); }));
      } catch (const std::system_error&) {
        break;
      }
    }
    return static_cast<std::int32_t>(threads_.size());
  }

  void hand(std::int32_t position) {
    {
      std::lock_guard lock(mutex_);
      waiting_.push_back(position);
    }
    work_waiting_.notify_one();
  }

  /// Waits until at least one species handed has been processed; returns those that have.
  std::vector<std::int32_t> take_processed() {
    std::unique_lock lock(mutex_);
    processed_waiting_.wait(lock, [this] { return !processed_.empty(); });
    std::vector<std::int32_t> processed;
    processed.swap(processed_);
    return processed;
  }

 private:
  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_waiting_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (waiting_.empty()) return;
      const std::int32_t position = waiting_.front();
      waiting_.pop_front();
      lock.unlock();
      // Only this thread touches the species' run until it is handed back.
      run_species(context_, indices_[static_cast<std::size_t>(position)], mask_,
                  runs_[static_cast<std::size_t>(position)]);
      lock.lock();
      processed_.push_back(position);
      processed_waiting_.notify_one();
    }
  }

  const SpeciesContext& context_;
  const std::vector<std::int32_t>& indices_;
  const ActivationMask& mask_;
  std::vector<SpeciesRun>& runs_;
  std::mutex mutex_;
  std::condition_variable work_waiting_;
  std::condition_variable processed_waiting_;
  std::deque<std::int32_t> waiting_;
  std::vector<std::int32_t> processed_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace

bool process_species_in_parallel(const SpeciesContext& context,
                                 const std::vector<std::int32_t>& indices,
                                 const ActivationMask& mask, const ParallelLimits& limits,
                                 const SpeciesFinished& finished) {
  const auto count = static_cast<std::int32_t>(indices.size());
  std::vector<SpeciesRun> runs(indices.size());
  Workers workers(context, indices, mask, runs);
  const std::int32_t jobs = workers.start(std::min(limits.jobs, count));
  if (jobs == 0) return false;
  SpeciesSchedule schedule(count, jobs, limits.memory_budget, NeedsOfSpecies(context, indices));

  Console& console = context.console;
  std::int32_t first_unprinted = 0;
  for (;;) {
    while (const auto position = schedule.start()) workers.hand(*position);
    for (; first_unprinted < count; ++first_unprinted) {
      SpeciesRun& run = runs[static_cast<std::size_t>(first_unprinted)];
      const std::int32_t index = indices[static_cast<std::size_t>(first_unprinted)];
      const std::string heading =
          species_heading(context.master.names[static_cast<std::size_t>(index)]);
      if (!run.heading_shown) {
        console << heading;
        console.flush();
        run.heading_shown = true;
      }
      if (!run.ended) break;
      relay(console, std::string_view(run.text).substr(std::min(heading.size(), run.text.size())));
      finished(index, run.outcome, run.elapsed_millis);
      run = SpeciesRun{};
    }
    if (first_unprinted == count) return true;
    for (const std::int32_t position : workers.take_processed()) {
      SpeciesRun& run = runs[static_cast<std::size_t>(position)];
      if (!run.outcome.ok && is_shared_shortage(run.outcome.error) &&
          !schedule.ran_alone(position)) {
        schedule.run_again_alone(position);
      } else {
        schedule.end(position);
        run.ended = true;
      }
    }
  }
}

}  // namespace tarnel
