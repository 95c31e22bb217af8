/* A preloaded library for the kill tests: it counts the calls of a process that change
 * files (opening for writing, writes, renames, removals, directory creation, flushes,
 * attribute changes) and kills the process with SIGKILL right after call number
 * KIVO_KILL_AFTER. With KIVO_COUNT_FILE set, the number of such calls is written there when
 * the process ends normally. Programs the process starts do not inherit the library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static long kill_after = -1;
static long calls = 0;
static char count_file[4096];

__attribute__((constructor)) static void start(void) {
  const char* after = getenv("KIVO_KILL_AFTER");
  const char* file = getenv("KIVO_COUNT_FILE");
  if (after != NULL) kill_after = atol(after);
  if (file != NULL) snprintf(count_file, sizeof count_file, "%s", file);
  unsetenv("LD_PRELOAD");
}

__attribute__((destructor)) static void end(void) {
  if (count_file[0] == '\0') return;
  FILE* out = fopen(count_file, "w");
  if (out == NULL) return;
  fprintf(out, "%ld\n", calls);
  fclose(out);
}

static void counted(void) {
  if (++calls == kill_after) kill(getpid(), SIGKILL);
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static int writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0; }

#define OPEN_LIKE(name, ...)                                   \
  int name(const char* path, int flags, ...) {                 \
    va_list args;                                              \
    va_start(args, flags);                                     \
    mode_t mode = (mode_t)va_arg(args, int);                   \
    va_end(args);                                              \
    int result = NEXT(name)(path, flags, mode);                \
    if (writes(flags)) counted();                              \
    return result;                                             \
  }
OPEN_LIKE(open)
OPEN_LIKE(open64)

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (mode_t)va_arg(args, int);
  va_end(args);
  int result = NEXT(openat)(dir, path, flags, mode);
  if (writes(flags)) counted();
  return result;
}

#define COUNTED(ret, name, params, args) \
  ret name params {                      \
    ret result = NEXT(name) args;        \
    counted();                           \
    return result;                       \
  }

COUNTED(ssize_t, write, (int fd, const void* data, size_t size), (fd, data, size))
COUNTED(int, rename, (const char* from, const char* to), (from, to))
COUNTED(int, renameat, (int a, const char* from, int b, const char* to), (a, from, b, to))
COUNTED(int, unlink, (const char* path), (path))
COUNTED(int, unlinkat, (int dir, const char* path, int flags), (dir, path, flags))
COUNTED(int, rmdir, (const char* path), (path))
COUNTED(int, mkdir, (const char* path, mode_t mode), (path, mode))
COUNTED(int, fsync, (int fd), (fd))
COUNTED(int, fdatasync, (int fd), (fd))
COUNTED(int, ftruncate, (int fd, off_t size), (fd, size))
COUNTED(int, fchmod, (int fd, mode_t mode), (fd, mode))
COUNTED(int, futimens, (int fd, const struct timespec times[2]), (fd, times))
COUNTED(ssize_t, copy_file_range,
        (int in, off64_t* inOff, int out, off64_t* outOff, size_t size, unsigned flags),
        (in, inOff, out, outOff, size, flags))
