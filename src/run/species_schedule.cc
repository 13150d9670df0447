#include "run/species_schedule.h"

#include <algorithm>

namespace tarnel {

SpeciesSchedule::SpeciesSchedule(std::int32_t count, std::int32_t jobs, std::uint64_t memory_budget)
    : count_(count), jobs_(std::max(jobs, 1)), budget_(memory_budget) {
  state_.reserve(index(count));
}

std::optional<std::int32_t> SpeciesSchedule::to_describe() {
  // Enough species ready to start, or about to be, for every job twice over.
  constexpr std::size_t kReadyPerJob = 2;
  const auto being_described = static_cast<std::size_t>(handed_out_) - state_.size();
  if (handed_out_ == count_ || ready_.size() + being_described >= index(jobs_) * kReadyPerJob) {
    return std::nullopt;
  }
  return handed_out_++;
}

void SpeciesSchedule::describe(std::int32_t species, SpeciesNeeds needs) {
  told_.emplace(species, std::move(needs));
  // Taken in in list order: a species' needs are set against those of every earlier one.
  for (auto next = told_.begin();
       next != told_.end() && next->first == static_cast<std::int32_t>(state_.size());
       next = told_.erase(next)) {
    take_in(next->second);
  }
}

void SpeciesSchedule::take_in(const SpeciesNeeds& needs) {
  const auto species = static_cast<std::int32_t>(state_.size());
  std::vector<std::int32_t> earlier;
  for (const std::uint64_t key : needs.reads) {
    FileUse& use = files_[key];
    if (use.last_writer >= 0) earlier.push_back(use.last_writer);
    use.readers.push_back(species);
  }
  for (const std::uint64_t key : needs.writes) {
    FileUse& use = files_[key];
    if (use.last_writer >= 0) earlier.push_back(use.last_writer);
    earlier.insert(earlier.end(), use.readers.begin(), use.readers.end());
    use.readers.clear();
    use.last_writer = species;
  }
  std::sort(earlier.begin(), earlier.end());
  earlier.erase(std::unique(earlier.begin(), earlier.end()), earlier.end());

  SpeciesState state;
  state.keys = needs.reads;
  state.keys.insert(state.keys.end(), needs.writes.begin(), needs.writes.end());
  state.memory_bytes = needs.memory_bytes.value_or(0);
  state.alone = !needs.memory_bytes || *needs.memory_bytes > budget_;
  for (const std::int32_t before : earlier) {
    if (before == species) continue;
    state_[index(before)].followers.push_back(species);
    ++state.waiting_for;
  }
  if (state.waiting_for == 0) ready_.push(species);
  state_.push_back(std::move(state));
}

std::optional<std::int32_t> SpeciesSchedule::start() {
  if (static_cast<std::int32_t>(running_.size()) >= jobs_ || alone_in_flight_) return std::nullopt;
  if (!again_.empty()) {
    if (!running_.empty()) return std::nullopt;
    const std::int32_t species = again_.top();
    again_.pop();
    begin(species);
    alone_in_flight_ = true;
    return species;
  }
  if (ready_.empty()) return std::nullopt;
  const std::int32_t species = ready_.top();
  const SpeciesState& state = state_[index(species)];
  if (state.alone ? !running_.empty() : memory_in_flight_ + state.memory_bytes > budget_) {
    return std::nullopt;
  }
  ready_.pop();
  begin(species);
  alone_in_flight_ = state.alone;
  return species;
}

void SpeciesSchedule::begin(std::int32_t species) {
  SpeciesState& state = state_[index(species)];
  state.overlapped = !running_.empty();
  for (const std::int32_t other : running_) state_[index(other)].overlapped = true;
  running_.push_back(species);
  memory_in_flight_ += state.memory_bytes;
}

void SpeciesSchedule::stop(std::int32_t species) {
  running_.erase(std::find(running_.begin(), running_.end(), species));
  memory_in_flight_ -= state_[index(species)].memory_bytes;
  alone_in_flight_ = false;
}

void SpeciesSchedule::run_again_alone(std::int32_t species) {
  stop(species);
  again_.push(species);
}

void SpeciesSchedule::end(std::int32_t species) {
  stop(species);
  SpeciesState& state = state_[index(species)];
  for (const std::int32_t follower : state.followers) {
    if (--state_[index(follower)].waiting_for == 0) ready_.push(follower);
  }
  state.followers.clear();
  for (const std::uint64_t key : state.keys) {
    const auto use = files_.find(key);
    if (use == files_.end()) continue;  // a key listed twice
    std::vector<std::int32_t>& readers = use->second.readers;
    readers.erase(std::remove(readers.begin(), readers.end(), species), readers.end());
    if (use->second.last_writer == species) use->second.last_writer = -1;
    if (use->second.last_writer < 0 && readers.empty()) files_.erase(use);
  }
  state.keys.clear();
}

}  // namespace tarnel
