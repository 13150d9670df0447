// LD_PRELOAD library for the fault sweep: the Nth open, write, close or rename of a run fails
// with an errno, writes half, or returns and then raises a signal.
//   TARNEL_FAULT="KIND N ACTION": KIND is open, write, close, rename or any (the first letter
//   counts); ACTION is eNUMBER (fail with that errno), h0 (write half), sNUMBER (raise that
//   signal) or c0 (only log every call).
//   TARNEL_FAULT_WITHOUT: "exchange" (renames never swap two names: EINVAL), "link" (no hard
//   links: EPERM), or both, as on file systems that lack them; these failures are not counted.
//   TARNEL_FAULT_LOG (required): file that gets "KIND FLAGS TARGET" for the call hit, KIND's
//   first letter, an open's flags or 0, and the path or the file behind the descriptor.
// Calls are counted across threads; every other call passes straight through, to the kernel.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

static const char kKinds[] = "owcra";  // open, write, close, rename, any
static long target_n, value, counts[sizeof kKinds];
static char target, action;

__attribute__((constructor)) static void configure(void) {
  const char* setting = getenv("TARNEL_FAULT");
  if (setting && (sscanf(setting, "%c%*s %ld %c%ld", &target, &target_n, &action, &value) != 4 ||
                  !strchr(kKinds, target) || !strchr("ehsc", action)))
    abort();
}

// Counts the call; true when it is the one to hit, after logging what it hits. stdio reaches
// the log through the C library's own calls, which bypass the ones below.
static int hit(char kind, const char* path, int fd, int flags) {
  const long n = __atomic_add_fetch(&counts[strchr(kKinds, kind) - kKinds], 1, __ATOMIC_SEQ_CST);
  const long any = __atomic_add_fetch(&counts[4], 1, __ATOMIC_SEQ_CST);  // 4: any
  if (action != 'c' && (target == 'a' ? any : target == kind ? n : -1) != target_n) return 0;
  char link[64], where[4096] = "stdout";
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length =
      fd == 1 || path ? (ssize_t)strlen(where) : readlink(link, where, sizeof where - 1);
  where[length < 0 ? 0 : length] = '\0';
  FILE* log = fopen(getenv("TARNEL_FAULT_LOG"), "ae");
  if (log) fprintf(log, "%c %#x %s\n", kind, (unsigned)flags, path ? path : where), fclose(log);
  return action != 'c';
}

// The chosen call fails before it is made (close after: Linux lets the descriptor go whatever
// close reports), or its signal goes off once it has returned, sent to the process as a user's
// would be: raise() would aim it at a helper thread, which blocks signals. The arguments of the
// system call may use "chosen" (a short write).
#define INTERCEPT(type, name, parameters, kind, path, fd, flags, before, ...) \
  type name parameters {                                                      \
    before;                                                                   \
    const int chosen = hit(kind, path, fd, flags);                            \
    if (chosen && action == 'e' && kind != 'c') return errno = value, -1;     \
    const type result = syscall(__VA_ARGS__);                                 \
    if (chosen && action == 'e') return errno = value, -1;                    \
    if (chosen && action == 's') kill(getpid(), value);                       \
    return result;                                                            \
  }

INTERCEPT(int, open, (const char* path, int flags, ...), 'o', path, -1, flags, va_list more;
          va_start(more, flags);
          const mode_t mode = flags & (O_CREAT | O_TMPFILE) ? va_arg(more, mode_t) : 0;
          va_end(more), SYS_openat, AT_FDCWD, path, flags, mode)
INTERCEPT(ssize_t, write, (int fd, const void* bytes, size_t count), 'w', NULL, fd, 0, (void)0,
          SYS_write, fd, bytes, count > 1 && chosen && action == 'h' ? count / 2 : count)
INTERCEPT(int, close, (int fd), 'c', NULL, fd, 0, (void)0, SYS_close, fd)

// As the kernel does, a missing file is reported before a feature is found wanting.
static int withheld(const char* feature, int at, const char* path) {
  const char* without = getenv("TARNEL_FAULT_WITHOUT");
  return without && strstr(without, feature) && faccessat(at, path, F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

INTERCEPT(int, renameat2, (int from_at, const char* from, int to_at, const char* to, unsigned how),
          'r', from, -1, 0,
          if ((how & RENAME_EXCHANGE) && withheld("exchange", to_at, to) &&
              withheld("exchange", from_at, from)) return (errno = EINVAL, -1),
          SYS_renameat2, from_at, from, to_at, to, how)
int rename(const char* from, const char* to) { return renameat2(AT_FDCWD, from, AT_FDCWD, to, 0); }
int link(const char* from, const char* to) {
  if (withheld("link", AT_FDCWD, from)) return errno = EPERM, -1;
  return syscall(SYS_linkat, AT_FDCWD, from, AT_FDCWD, to, 0);
}
