// restrict_families FAMILY[,FAMILY...] COMMAND [ARG...]: runs COMMAND with socket(2)
// limited to the named address families, as a unit's RestrictAddressFamilies= does
// (other families fail with EAFNOSUPPORT, every other call is left alone). Built by
// the unit sandbox test with the system's C compiler; it needs no library.
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__x86_64__)
#define NATIVE_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define NATIVE_ARCH AUDIT_ARCH_AARCH64
#else
#error "add this machine's AUDIT_ARCH"
#endif

static const struct {
  const char* name;
  int family;
} kFamilies[] = {
    {"AF_UNIX", AF_UNIX},       {"AF_INET", AF_INET},     {"AF_INET6", AF_INET6},
    {"AF_NETLINK", AF_NETLINK}, {"AF_PACKET", AF_PACKET}, {"AF_BLUETOOTH", AF_BLUETOOTH},
    {"AF_CAN", AF_CAN},         {"AF_ALG", AF_ALG},       {"AF_VSOCK", AF_VSOCK}};

enum { kMaxAllowed = 16 };

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s FAMILY[,FAMILY...] COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  int allowed[kMaxAllowed];
  int count = 0;
  for (char* name = strtok(argv[1], ", "); name != NULL; name = strtok(NULL, ", ")) {
    int found = -1;
    for (size_t i = 0; i < sizeof kFamilies / sizeof kFamilies[0]; ++i) {
      if (strcmp(kFamilies[i].name, name) == 0) found = kFamilies[i].family;
    }
    if (found < 0 || count == kMaxAllowed) {
      fprintf(stderr, "%s: unknown address family %s\n", argv[0], name);
      return 2;
    }
    allowed[count++] = found;
  }

  // The arch check, the call number, the family loaded, one comparison a family and the
  // two verdicts: 7 + count instructions; every jump lands on a verdict.
  struct sock_filter program[6 + kMaxAllowed + 2];
  int n = 0;
  program[n++] =
      (struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch));
  // Another architecture's calls are no business of this filter: allow.
  program[n++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_ARCH, 0,
                                              (unsigned char)(count + 4));
  program[n++] =
      (struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr));
  program[n++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0,
                                              (unsigned char)(count + 2));
  // The family is an int: its low 32 bits (little-endian machines).
  program[n++] = (struct sock_filter)BPF_STMT(BPF_LD | BPF_W | BPF_ABS,
                                              offsetof(struct seccomp_data, args[0]));
  for (int i = 0; i < count; ++i) {
    program[n++] = (struct sock_filter)BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (unsigned)allowed[i],
                                                (unsigned char)(count - i), 0);
  }
  program[n++] = (struct sock_filter)BPF_STMT(
      BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA));
  program[n++] = (struct sock_filter)BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
  struct sock_fprog filter = {.len = (unsigned short)n, .filter = program};

  // Without CAP_SYS_ADMIN a filter needs no_new_privs; the unit sets it too.
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
    perror("restrict_families: seccomp");
    return 2;
  }
  execvp(argv[2], argv + 2);
  perror(argv[2]);
  return 127;
}
