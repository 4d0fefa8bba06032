// Test seam of the process frame: forgets that a stop sequence ran and that
// the lock is held, so one test binary can run several stop sequences.
// Only tests call it, while no stop sequence runs.
#ifndef QUORLIN_MAIN_QL_HELPER_PROCESS_MAIN_INTERNAL_H_
#define QUORLIN_MAIN_QL_HELPER_PROCESS_MAIN_INTERNAL_H_

void ResetProcessFrameForTesting();

#endif  // QUORLIN_MAIN_QL_HELPER_PROCESS_MAIN_INTERNAL_H_
