// The run from start to end: command line, species lists, the species loop and the summary.
#ifndef TARNEL_RUN_DRIVER_H_
#define TARNEL_RUN_DRIVER_H_

#include <ostream>

#include "run/clock.h"
#include "run/command_line.h"
#include "run/exit_codes.h"
#include "run/file_system.h"

namespace tarnel {

/// Runs the tool over `arguments` and returns the process's exit code. Everything it prints
/// goes to `out`, but for the one line that says `out` could not be written, which goes to
/// `err`; every file goes through `files`; every time comes from `clock`.
int run(const Arguments& arguments, std::ostream& out, std::ostream& err, Clock& clock,
        FileSystem& files);

/// The process entry point: the real console, clock and file system.
int main_entry(int argc, char** argv);

}  // namespace tarnel

#endif  // TARNEL_RUN_DRIVER_H_
