// The conventions that differ between the Windows and the POSIX build. Every case states what
// each host must give, so the same table is checked by the native and by the Wine run.
#include "base/host.h"

#include <gtest/gtest.h>

#include <string>

#include "run/command_line.h"

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
      {"dot in a slash directory", "build.d/tarnel", "build", "tarnel"},
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

}  // namespace
}  // namespace tarnel
