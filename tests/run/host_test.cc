// The conventions that differ between the Windows and the POSIX build. Every case states what
// each host must give, so the same table is checked by the native and by the Wine run.
#include "run/host.h"

#include <gtest/gtest.h>

#include <string>

#include "run/command_line.h"
#include "run/run_settings.h"

namespace tarnel {
namespace {

struct HostCase {
  const char* name;
  const char* given;
  const char* on_windows;
  const char* on_posix;
};

const char* expected_on_this_host(const HostCase& c) {
  return host::kWindows ? c.on_windows : c.on_posix;
}

TEST(HostTest, ProgramNameIsCutAtTheHostsSeparators) {
  static constexpr HostCase kCases[] = {
      {"drive and directories", "E:\\tools\\tarnel.exe", "tarnel", "tarnel"},
      {"bare name", "tarnel", "tarnel", "tarnel"},
      {"only the last extension goes", "tarnel.old.exe", "tarnel.old", "tarnel.old"},
      {"slash is no separator on Windows", "bin/tarnel.exe", "bin/tarnel", "tarnel"},
      {"dot before a slash", "C:\\my.dir/tarnel", "my", "tarnel"},
      {"dotted directory", "C:\\my.dir\\tarnel", "tarnel", "tarnel"},
      {"relative start", "./tarnel", "", "tarnel"},
      {"backslash cut on both", "bin\\tarnel", "tarnel", "tarnel"},
      {"leading dot only", ".tarnel", "", ""},
      {"directory alone", "tools\\", "", ""},
      {"empty", "", "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(expected_on_this_host(c), derive_program_name(c.given));
  }
}

TEST(HostTest, DirectoriesGetTheHostsSeparator) {
  static constexpr HostCase kCases[] = {
      {"plain name", "protein", "protein\\", "protein/"},
      {"drive", "C:", "C:\\", "C:/"},
      {"slash path without end", "data/out", "data/out\\", "data/out/"},
      {"ends with slash", "out/", "out/", "out/"},
      {"ends with backslash", "out\\", "out\\", "out\\"},
      {"empty stays empty", "", "", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RunSettings settings;
    settings.input_path = c.given;
    settings.output_path = c.given;
    settings.status_path = c.given;
    settings.duplicates_path = c.given;
    normalise_settings(settings);
    EXPECT_EQ(expected_on_this_host(c), settings.input_path);
    EXPECT_EQ(expected_on_this_host(c), settings.output_path);
    EXPECT_EQ(expected_on_this_host(c), settings.status_path);
    EXPECT_EQ(expected_on_this_host(c), settings.duplicates_path);
  }
}

}  // namespace
}  // namespace tarnel
