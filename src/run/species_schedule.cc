#include "run/species_schedule.h"

#include <algorithm>

namespace tarnel {

SpeciesSchedule::SpeciesSchedule(std::int32_t count, std::int32_t jobs, std::uint64_t memory_budget,
                                 std::function<SpeciesNeeds(std::int32_t)> describe)
    : count_(count),
      jobs_(std::max(jobs, 1)),
      budget_(memory_budget),
      describe_(std::move(describe)) {
  state_.reserve(index(count));
}

void SpeciesSchedule::describe_next() {
  const auto species = static_cast<std::int32_t>(state_.size());
  const SpeciesNeeds needs = describe_(species);
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
  state.memory_bytes = needs.memory_bytes.value_or(0);
  state.alone = !needs.memory_bytes || *needs.memory_bytes > budget_;
  for (const std::int32_t before : earlier) {
    if (before == species || state_[index(before)].ended) continue;
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
  while (ready_.empty() && static_cast<std::int32_t>(state_.size()) < count_) describe_next();
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
  state.ended = true;
  for (const std::int32_t follower : state.followers) {
    if (--state_[index(follower)].waiting_for == 0) ready_.push(follower);
  }
  state.followers.clear();
}

}  // namespace tarnel
