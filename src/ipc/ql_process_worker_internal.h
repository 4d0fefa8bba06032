// Test seam of QLProcessWorker: makes the next `count` calls of Start() fail
// as if no thread could be made. Any thread may call it.
#ifndef QUORLIN_IPC_QL_PROCESS_WORKER_INTERNAL_H_
#define QUORLIN_IPC_QL_PROCESS_WORKER_INTERNAL_H_

void ql_fail_worker_thread_starts_for_testing(int count);

#endif  // QUORLIN_IPC_QL_PROCESS_WORKER_INTERNAL_H_
