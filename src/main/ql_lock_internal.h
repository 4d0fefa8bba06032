// Test seam of the single-instance lock: the folder the pid files live in.
//
// Only tests call this, before any lock function runs and never concurrently
// with them; the product always uses "/var/run/".
#ifndef QUORLIN_MAIN_QL_LOCK_INTERNAL_H_
#define QUORLIN_MAIN_QL_LOCK_INTERNAL_H_

// `folder` must end with '/'; null restores "/var/run/".
void ql_set_lock_folder_for_testing(char const* folder);

#endif  // QUORLIN_MAIN_QL_LOCK_INTERNAL_H_
