// The run from start to end: command line, species lists, the species loop and the summary.
#ifndef TARNEL_RUN_DRIVER_H_
#define TARNEL_RUN_DRIVER_H_

#include <ostream>

#include "base/clock.h"
#include "run/command_line.h"
#include "run/exit_codes.h"
#include "base/file_system.h"
#include "base/host_capacity.h"

namespace tarnel {

/// Runs the tool over `arguments` and returns the process's exit code. Everything it prints
/// goes to `out`, but for the one line that says `out` could not be written, which goes to
/// `err`; every file goes through `files`; every time comes from `clock`. Without --jobs, as
/// many species are processed at once as `capacity` has processors.
int run(const Arguments& arguments, std::ostream& out, std::ostream& err, Clock& clock,
        FileSystem& files, const HostCapacity& capacity = HostCapacity{});

/// The process entry point: the real console, clock and file system.
int main_entry(int argc, char** argv);

}  // namespace tarnel

#endif  // TARNEL_RUN_DRIVER_H_
