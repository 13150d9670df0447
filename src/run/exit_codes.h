// Every exit code of the tool, in one place. Where several apply, the largest is returned.
#ifndef TARNEL_RUN_EXIT_CODES_H_
#define TARNEL_RUN_EXIT_CODES_H_

namespace tarnel {

/// Usage shown, or the run went through every species (failed ones are counted, not fatal).
inline constexpr int kExitOk = 0;
/// A missing option value, an unknown option, fewer than two lists.
inline constexpr int kExitCommandLine = 1;
/// A species list cannot be opened, or has a line longer than 65,535 bytes.
inline constexpr int kExitListUnreadable = 2;
/// An entry line of a species list lacks its second field or its file name.
inline constexpr int kExitListFieldMissing = 3;
/// An active entry is not in the full list, or an --only name is not.
inline constexpr int kExitUnknownActiveSpecies = 4;
/// --strict, and at least one species failed.
inline constexpr int kExitSpeciesFailed = 5;
/// The --report file could not be written.
inline constexpr int kExitReportUnwritable = 6;
/// Standard output could not be written: the console, the run's own report, is lost.
inline constexpr int kExitConsoleUnwritable = 7;

}  // namespace tarnel

#endif  // TARNEL_RUN_EXIT_CODES_H_
