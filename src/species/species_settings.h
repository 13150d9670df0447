// What the processing of a species reads of the run's settings, as plain values: where its
// input is, where its outputs go, and which steps run.
#ifndef TARNEL_SPECIES_SPECIES_SETTINGS_H_
#define TARNEL_SPECIES_SPECIES_SETTINGS_H_

#include <cstdint>
#include <string>

namespace tarnel {

/// Directories end with their separator and extensions begin with their '.' (or are empty),
/// so that paths are built by plain concatenation. Each mode is 0 or 1.
struct SpeciesSettings {
  std::string input_path;
  std::string output_path;
  std::string output_extension;
  std::string status_path;
  std::string status_extension;
  std::string duplicates_path;
  std::string duplicates_extension;
  std::int32_t copy_mode = 0;
  std::int32_t status_mode = 0;
  std::int32_t write_mode = 0;
  std::int32_t ordering = 0;
};

}  // namespace tarnel

#endif  // TARNEL_SPECIES_SPECIES_SETTINGS_H_
