// Hands termination signals from the operating system to an ordinary thread.
//
// The handler installed with signal() only writes the signal number into a
// self-pipe (async-signal-safe); the "stopper" thread reads the pipe and
// calls the stop function with the number. The stop sequence therefore runs
// like any other code: it may log, take mutexes and wait for threads without
// deadlocking against the thread the signal happened to interrupt.
//
// Contract:
//  - Call InstallTerminationHandlers, then (after SIGPIPE is blocked, so the
//    thread inherits the block) StartStopperThread, on the main thread,
//    once per process. FinishStopperThread joins the thread after every
//    signal already recorded has been handled; call it on the main thread
//    before the stop function's resources (log buffer, services) go away.
//  - The stop function runs on the stopper thread only, one call at a time.
//  - The pipe stays open until the process ends, so a signal arriving after
//    FinishStopperThread is recorded and ignored.
#ifndef QUORLIN_MAIN_QL_SIGNAL_STOPPER_H_
#define QUORLIN_MAIN_QL_SIGNAL_STOPPER_H_

// Creates the self-pipe and installs the recording handler for SIGINT,
// SIGTERM and SIGQUIT, in that order. False when the pipe cannot be made.
bool InstallTerminationHandlers();

// Starts the thread that calls `stop_function(signal_number)` for every
// recorded signal. False when the thread cannot be started or it already
// runs.
bool StartStopperThread(void (*stop_function)(int));

// Lets the stopper thread handle what is already recorded, then joins it.
// Does nothing when it is not running.
void FinishStopperThread();

#endif  // QUORLIN_MAIN_QL_SIGNAL_STOPPER_H_
