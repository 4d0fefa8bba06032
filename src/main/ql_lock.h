// Single-instance lock: a pid file "/var/run/<name>.pid" records the running
// instance of a program.
//
// Contract:
//  - ql_check_lock answers a question: non-zero when a live instance of the
//    same program (its argv[0] contains `name`) holds the pid file, or when
//    `name` is null; 0 otherwise, also when the question cannot be answered.
//  - ql_lock and ql_unlock report an error: 0 on success, 1 on any failure.
//  - Nothing throws; every failure is a log line and a result. No descriptor
//    or lock is held between calls, and the functions take no lock
//    themselves: callers must not run them concurrently for the same name.
#ifndef QUORLIN_MAIN_QL_LOCK_H_
#define QUORLIN_MAIN_QL_LOCK_H_

// Makes every lock function use the pid file `path` instead of
// "/var/run/<name>.pid" (null or empty restores that). The name still decides
// whether a running process is an instance. Call before the first lock
// function, on the thread that runs them.
void ql_set_pid_file(char const* path);

int ql_check_lock(char const* name);
int ql_lock(char const* name);
int ql_unlock(char const* name);

#endif  // QUORLIN_MAIN_QL_LOCK_H_
