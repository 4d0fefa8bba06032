#include "media/ql_helper_sandbox.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include "base/ql_unique_fd.h"

// Fonts (fontconfig finds the substitutes of fonts a PDF does not embed),
// poppler's CMaps and the libraries under /usr; fontconfig's settings and
// cache. /proc/self: the sanitizer runtimes of the test builds read it.
char const* const kQLSandboxReadableFolders[4] = {"/usr", "/etc/fonts", "/var/cache/fontconfig",
                                                  "/proc/self"};

namespace {

#if defined(__x86_64__)
#define QL_AUDIT_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define QL_AUDIT_ARCH AUDIT_ARCH_AARCH64
#elif defined(__arm__)
#define QL_AUDIT_ARCH AUDIT_ARCH_ARM
#endif

bool Fail(std::string* error, char const* what) {
  *error = std::string(what) + ": " + strerror(errno);
  return false;
}

// Every file-system right the kernel's Landlock ABI `abi` knows of.
std::uint64_t HandledRights(long abi) {
  std::uint64_t rights =
      LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
      LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
      LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
      LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
      LANDLOCK_ACCESS_FS_MAKE_SYM;
  if (abi >= 2) rights |= 1ull << 13;  // REFER
  if (abi >= 3) rights |= 1ull << 14;  // TRUNCATE
  if (abi >= 5) rights |= 1ull << 15;  // IOCTL_DEV
  return rights;
}

bool RestrictFiles(std::string* error) {
  long const abi = syscall(SYS_landlock_create_ruleset, nullptr, 0,
                           static_cast<unsigned>(LANDLOCK_CREATE_RULESET_VERSION));
  if (abi < 1) return true;  // no Landlock in this kernel
  struct landlock_ruleset_attr attributes = {};
  attributes.handled_access_fs = HandledRights(abi);
  QLUniqueFd ruleset(
      static_cast<int>(syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0u)));
  if (!ruleset.valid()) return Fail(error, "landlock_create_ruleset");
  for (char const* folder : kQLSandboxReadableFolders) {
    QLUniqueFd path(open(folder, O_PATH | O_CLOEXEC));
    if (!path.valid()) continue;  // a folder this system lacks stays closed
    struct landlock_path_beneath_attr rule = {};
    rule.allowed_access =
        LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_EXECUTE;
    rule.parent_fd = path.get();
    if (syscall(SYS_landlock_add_rule, ruleset.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0u) != 0) {
      return Fail(error, "landlock_add_rule");
    }
  }
  if (syscall(SYS_landlock_restrict_self, ruleset.get(), 0u) != 0) {
    return Fail(error, "landlock_restrict_self");
  }
  return true;
}

// socket(2) fails with EACCES; so does every call made through another
// architecture's system-call table (a 32-bit call of a 64-bit process).
bool ForbidSockets(std::string* error) {
#ifdef QL_AUDIT_ARCH
  struct sock_filter filter[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, QL_AUDIT_ARCH, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
#if defined(__x86_64__)
    // The x32 table shares the architecture number.
    BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000u, 1, 0),
#else
    BPF_JUMP(BPF_JMP | BPF_JA, 0, 0, 0),
#endif
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]),
                               filter};
  if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    return Fail(error, "seccomp filter");
  }
#else
  (void)error;
#endif
  return true;
}

}  // namespace

bool EnterDocumentSandbox(std::string* error) {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Fail(error, "no_new_privs");
  return RestrictFiles(error) && ForbidSockets(error);
}
