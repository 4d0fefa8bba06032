#include "main/ql_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>

#include "base/ql_unique_fd.h"
#include "base/ql_write_all.h"
#include "log/ql_log.h"
#include "main/ql_lock_internal.h"

namespace {

char const kDefaultLockFolder[] = "/var/run/";
// Both the pid file and the process's command line are read up to this size.
const size_t kReadLimit = 1024;

std::string& LockFolder() {
  static std::string folder(kDefaultLockFolder);
  return folder;
}

// Set by ql_set_pid_file; empty: the folder's "<name>.pid".
std::string& PidFileOverride() {
  static std::string path;
  return path;
}

std::string PidFilePath(char const* name) {
  if (!PidFileOverride().empty()) return PidFileOverride();
  return LockFolder() + name + ".pid";
}

ssize_t ReadRetrying(int fd, char* buffer, size_t size) {
  ssize_t got;
  do {
    got = read(fd, buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

}  // namespace

void ql_set_pid_file(char const* path) { PidFileOverride() = path ? path : ""; }

void ql_set_lock_folder_for_testing(char const* folder) {
  LockFolder() = folder ? folder : kDefaultLockFolder;
}

int ql_check_lock(char const* name) {
  if (name == NULL) {
    QL_ERROR("ql_check_lock received NULL parameter!");
    return 1;
  }
  std::string const path = PidFilePath(name);
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    QL_WARN("Failed to stat the lock file!");
    return 0;
  }
  char text[kReadLimit + 1];
  {
    QLUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
      QL_WARN("Failed to open the lock file!");
      return 0;
    }
    ssize_t got = ReadRetrying(fd.get(), text, kReadLimit);
    if (got < 0) {
      QL_WARN("Lock file read error!");
      return 0;
    }
    text[got] = '\0';
  }
  int pid = 0;
  if (sscanf(text, "%d", &pid) != 1) {
    QL_WARN("Failed to parse the pid file content");
    return 0;
  }

  char proc_path[64];
  snprintf(proc_path, sizeof(proc_path), "/proc/%d/cmdline", pid);
  if (lstat(proc_path, &info) != 0) {
    QL_WARN("Failed to stat the proc file!");
    return 0;
  }
  {
    QLUniqueFd fd(open(proc_path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
      QL_WARN("Failed to open the proc file!");
      return 0;
    }
    ssize_t got = ReadRetrying(fd.get(), text, kReadLimit);
    if (got < 0) {
      QL_WARN("Proc file read error!");
      return 0;
    }
    text[got] = '\0';
  }
  // The arguments are separated by zero bytes, so strstr sees argv[0] only.
  if (strstr(text, name) != NULL) return 1;
  QL_WARN("Pid file mismatch!");
  return 0;
}

int ql_lock(char const* name) {
  if (name == NULL) {
    QL_ERROR("ql_lock received NULL parameter!");
    return 1;
  }
  std::string const path = PidFilePath(name);
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && unlink(path.c_str()) != 0) {
    QL_WARN("Failed to remove stale lock file!");
  }
  // O_NOFOLLOW: never write our pid through a link planted at the path.
  QLUniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    QL_ERROR("Quorlin lock file creation failed!");
    return 1;
  }
  // The umask must not narrow the permissions other tools rely on.
  fchmod(fd.get(), 0644);
  char text[20];
  int length = snprintf(text, sizeof(text), "%d\n", static_cast<int>(getpid()));
  if (!WriteAll(fd.get(), text, static_cast<std::uint64_t>(length))) {
    QL_ERROR("Lock file creation error!");
    return 1;
  }
  return 0;
}

int ql_unlock(char const* name) {
  if (name == NULL) {
    QL_ERROR("ql_unlock received NULL parameter!");
    return 1;
  }
  if (unlink(PidFilePath(name).c_str()) != 0) {
    QL_WARN("Quorlin lock file already deleted?");
    return 1;
  }
  return 0;
}
