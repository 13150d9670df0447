#include "run/run_settings.h"

#include "base/host.h"

namespace tarnel {
namespace {

void normalise_directory(std::string& directory) {
  if (directory.empty()) return;
  const char last = directory.back();
  if (last != '\\' && last != '/') directory.push_back(host::kDirectorySeparator);
}

void normalise_extension(std::string& extension) {
  if (!extension.empty() && extension.front() != '.') extension.insert(extension.begin(), '.');
}

}  // namespace

void normalise_settings(RunSettings& settings) {
  normalise_directory(settings.input_path);
  normalise_directory(settings.output_path);
  normalise_directory(settings.status_path);
  normalise_directory(settings.duplicates_path);
  normalise_extension(settings.output_extension);
  normalise_extension(settings.status_extension);
  normalise_extension(settings.duplicates_extension);
}

}  // namespace tarnel
