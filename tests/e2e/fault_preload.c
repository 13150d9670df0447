// LD_PRELOAD library for the fault sweep: the Nth open, write, close or rename of a run fails
// with an errno, writes half, or returns and then raises a signal.
//   TARNEL_FAULT="KIND N ACTION": KIND is open, write, close, rename or any; ACTION is eNUMBER
//   (fail with that errno), short, or sNUMBER (raise that signal); "count" only counts.
//   TARNEL_FAULT_WITHOUT: "exchange" (renames never swap two names: EINVAL), "link" (no hard
//   links: EPERM), or both, as on file systems that lack them; these failures are not counted.
//   TARNEL_FAULT_LOG: file that gets "KIND FLAGS TARGET" for the call hit (an open's flags,
//   else 0; the path, or the file behind the descriptor), or the counts at exit.
// Calls are counted across threads; every other call passes straight through.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kOpen, kWrite, kClose, kRename, kAny };
static const char* const kKinds[] = {"open", "write", "close", "rename", "any"};
static int target_kind = -1, action_value;
static long target_n;
static char action_type;  // 'e' errno, 's' signal, 'h' short write, 'c' count only
static long counts[kAny + 1];

static int (*real_open)(const char*, int, ...);
static int (*real_openat)(int, const char*, int, ...);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_close)(int);
static int (*real_renameat2)(int, const char*, int, const char*, unsigned);
static int (*real_linkat)(int, const char*, int, const char*, int);

static void log_line(const char* text) {
  const char* path = getenv("TARNEL_FAULT_LOG");
  int fd = path ? real_open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : 2;
  if (fd < 0) return;
  real_write(fd, text, strlen(text));
  if (fd != 2) real_close(fd);
}

__attribute__((constructor)) static void configure(void) {
  *(void**)&real_open = dlsym(RTLD_NEXT, "open");
  *(void**)&real_openat = dlsym(RTLD_NEXT, "openat");
  *(void**)&real_write = dlsym(RTLD_NEXT, "write");
  *(void**)&real_close = dlsym(RTLD_NEXT, "close");
  *(void**)&real_renameat2 = dlsym(RTLD_NEXT, "renameat2");
  *(void**)&real_linkat = dlsym(RTLD_NEXT, "linkat");
  const char* setting = getenv("TARNEL_FAULT");
  char kind[16], action[16];
  if (setting == NULL) return;
  if (strcmp(setting, "count") == 0) {
    action_type = 'c';
  } else if (sscanf(setting, "%15s %ld %15s", kind, &target_n, action) == 3) {
    for (int k = 0; k <= kAny; ++k)
      if (strcmp(kind, kKinds[k]) == 0) target_kind = k;
    action_type = action[0] == 's' && action[1] == 'h' ? 'h' : action[0];
    action_value = atoi(action + 1);
  }
  if (action_type != 'c' && (target_kind < 0 || strchr("esh", action_type) == NULL)) {
    log_line("fault_preload: bad TARNEL_FAULT\n");
    abort();
  }
}

__attribute__((destructor)) static void report_counts(void) {
  char text[128];
  if (action_type != 'c') return;
  snprintf(text, sizeof text, "open %ld write %ld close %ld rename %ld\n", counts[kOpen],
           counts[kWrite], counts[kClose], counts[kRename]);
  log_line(text);
}

// Counts the call; true when it is the one to hit, after logging what it hits.
static int hit(int kind, const char* path, int fd, int flags) {
  const long n = __atomic_add_fetch(&counts[kind], 1, __ATOMIC_SEQ_CST);
  const long any = __atomic_add_fetch(&counts[kAny], 1, __ATOMIC_SEQ_CST);
  if (target_kind != kind && target_kind != kAny) return 0;
  if ((target_kind == kAny ? any : n) != target_n) return 0;
  char link[64], where[4096] = "stdout", text[4200];
  if (fd != 1 && path == NULL) {
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, where, sizeof where - 1);
    where[length < 0 ? 0 : length] = '\0';
  }
  snprintf(text, sizeof text, "%s %#x %s\n", kKinds[kind], (unsigned)flags, path ? path : where);
  log_line(text);
  return 1;
}

// The signal goes off once the call has returned, sent to the process as a user's would be:
// raise() would aim it at a helper thread, which blocks signals.
static long finish(long result) {
  if (action_type == 's') kill(getpid(), action_value);
  return result;
}

static long fail(void) {
  errno = action_value;
  return -1;
}

#define OPEN_MODE                                 \
  mode_t mode = 0;                                \
  if (flags & (O_CREAT | O_TMPFILE)) {            \
    va_list arguments;                            \
    va_start(arguments, flags);                   \
    mode = va_arg(arguments, mode_t);             \
    va_end(arguments);                            \
  }                                               \
  const int chosen = hit(kOpen, path, -1, flags); \
  if (chosen && action_type == 'e') return (int)fail();

int open(const char* path, int flags, ...) {
  OPEN_MODE
  const int fd = real_open(path, flags, mode);
  return chosen ? (int)finish(fd) : fd;
}
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int openat(int directory, const char* path, int flags, ...) {
  OPEN_MODE
  const int fd = real_openat(directory, path, flags, mode);
  return chosen ? (int)finish(fd) : fd;
}
int openat64(int directory, const char* path, int flags, ...) __attribute__((alias("openat")));

ssize_t write(int fd, const void* bytes, size_t count) {
  if (!hit(kWrite, NULL, fd, 0)) return real_write(fd, bytes, count);
  if (action_type == 'e') return fail();
  if (action_type == 'h' && count > 1) count /= 2;
  return finish(real_write(fd, bytes, count));
}

int close(int fd) {
  if (!hit(kClose, NULL, fd, 0)) return real_close(fd);
  // Linux lets the descriptor go whatever close reports, EINTR included.
  const int result = real_close(fd);
  return action_type == 'e' ? (int)fail() : (int)finish(result);
}

// As the kernel does, a missing file is reported before a feature is found wanting.
static int withheld(const char* feature, int directory, const char* path) {
  const char* without = getenv("TARNEL_FAULT_WITHOUT");
  return without != NULL && strstr(without, feature) != NULL &&
         faccessat(directory, path, F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  if (withheld("link", from_dir, from)) {
    errno = EPERM;
    return -1;
  }
  return real_linkat(from_dir, from, to_dir, to, flags);
}
int link(const char* from, const char* to) { return linkat(AT_FDCWD, from, AT_FDCWD, to, 0); }

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  if ((flags & RENAME_EXCHANGE) && withheld("exchange", to_dir, to) &&
      withheld("exchange", from_dir, from)) {
    errno = EINVAL;
    return -1;
  }
  const int chosen = hit(kRename, from, -1, 0);
  if (chosen && action_type == 'e') return (int)fail();
  const int result = real_renameat2(from_dir, from, to_dir, to, flags);
  return chosen ? (int)finish(result) : result;
}
int renameat(int from_dir, const char* from, int to_dir, const char* to) {
  return renameat2(from_dir, from, to_dir, to, 0);
}
int rename(const char* from, const char* to) { return renameat2(AT_FDCWD, from, AT_FDCWD, to, 0); }
