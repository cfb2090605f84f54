/*
 * Preloaded into the lab router's user-mode Linux kernel (linux.uml, 6.1).
 *
 * That kernel saves and restores each guest process's FPU state with
 * PTRACE_GETREGSET/PTRACE_SETREGSET of NT_X86_XSTATE, through a buffer of a
 * size fixed when it was built (2696 bytes: x87, SSE, AVX and AVX-512). The
 * host kernel reads back any length, but it writes only a whole XSAVE area: on
 * a machine whose area is larger (AMX: 10 KiB and more) every restore fails
 * with EFAULT, and the guest panics as its init starts ("ptrace set fp regs
 * failed, errno = 14").
 *
 * Here a short restore becomes a whole one: the process's state as it stands,
 * with the bytes the guest kernel gave laid over its start. What lies beyond
 * them (the AMX tiles) is left as the process holds it; no guest program uses
 * them, since they need a permission that only the host kernel grants.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/uio.h>

/* Larger than any XSAVE area a CPU has today (AMX: about 11 KiB). */
#define WHOLE_AREA_BYTES (64 * 1024)

typedef long (*ptrace_fn)(enum __ptrace_request, pid_t, void *, void *);

static ptrace_fn real_ptrace(void) {
  static ptrace_fn real;
  if (real == NULL) real = (ptrace_fn)dlsym(RTLD_NEXT, "ptrace");
  return real;
}

static long restore_whole_area(pid_t pid, const struct iovec *given) {
  static unsigned char whole[WHOLE_AREA_BYTES] __attribute__((aligned(64)));
  struct iovec read_back = {whole, sizeof whole};
  if (real_ptrace()(PTRACE_GETREGSET, pid, (void *)NT_X86_XSTATE, &read_back) == -1) return -1;
  /* The whole area, or one no larger than what was given: nothing to add. */
  if (read_back.iov_len <= given->iov_len) {
    return real_ptrace()(PTRACE_SETREGSET, pid, (void *)NT_X86_XSTATE, (void *)given);
  }
  memcpy(whole, given->iov_base, given->iov_len);
  return real_ptrace()(PTRACE_SETREGSET, pid, (void *)NT_X86_XSTATE, &read_back);
}

long ptrace(enum __ptrace_request request, ...) {
  va_list arguments;
  va_start(arguments, request);
  const pid_t pid = va_arg(arguments, pid_t);
  void *address = va_arg(arguments, void *);
  void *data = va_arg(arguments, void *);
  va_end(arguments);
  if (real_ptrace() == NULL) {
    errno = ENOSYS;
    return -1;
  }
  if (request == PTRACE_SETREGSET && (long)address == NT_X86_XSTATE && data != NULL) {
    return restore_whole_area(pid, (const struct iovec *)data);
  }
  return real_ptrace()(request, pid, address, data);
}
