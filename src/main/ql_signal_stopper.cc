#include "main/ql_signal_stopper.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <boost/thread/exceptions.hpp>
#include <boost/thread/thread.hpp>

#include "base/ql_mutex.h"

namespace {

// Byte that tells the stopper thread to end; no signal has number 0.
const unsigned char kQuitByte = 0;

std::atomic<int> g_pipe_read(-1);
std::atomic<int> g_pipe_write(-1);
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

QLMutex g_thread_mutex;
boost::thread g_thread GUARDED_BY(g_thread_mutex);

extern "C" void RecordTerminationSignal(int signal_number) {
  int const saved_errno = errno;
  int const fd = g_pipe_write.load();
  if (fd >= 0) {
    unsigned char const byte = static_cast<unsigned char>(signal_number);
    // Non-blocking: a full pipe drops the signal rather than hang the handler.
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
  }
  errno = saved_errno;
}

void StopperLoop(void (*stop_function)(int)) {
  int const fd = g_pipe_read.load();
  for (;;) {
    unsigned char byte = kQuitByte;
    ssize_t got = read(fd, &byte, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || byte == kQuitByte) return;
    stop_function(byte);
  }
}

}  // namespace

bool InstallTerminationHandlers() {
  if (g_pipe_write.load() < 0) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    g_pipe_read = fds[0];
    g_pipe_write = fds[1];
  }
  signal(SIGINT, RecordTerminationSignal);
  signal(SIGTERM, RecordTerminationSignal);
  signal(SIGQUIT, RecordTerminationSignal);
  return true;
}

bool StartStopperThread(void (*stop_function)(int)) {
  if (stop_function == nullptr || g_pipe_read.load() < 0) return false;
  QLMutexLock lock(&g_thread_mutex);
  if (g_thread.joinable()) return false;
  try {
    g_thread = boost::thread(StopperLoop, stop_function);
  } catch (boost::thread_resource_error const&) {
    return false;
  }
  return true;
}

void FinishStopperThread() {
  QLMutexLock lock(&g_thread_mutex);
  if (!g_thread.joinable()) return;
  int const fd = g_pipe_write.load();
  for (;;) {
    ssize_t put = write(fd, &kQuitByte, 1);
    if (put == 1) break;
    if (put < 0 && errno != EINTR && errno != EAGAIN) break;
    // The pipe is full of recorded signals: let the stopper drain some.
    usleep(1000);
  }
  g_thread.join();
}
