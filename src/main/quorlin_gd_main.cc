// Entry of the helper process: fixed start-up order, serve until stopped,
// release the single-instance lock, exit status.
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <boost/shared_ptr.hpp>
#include <chrono>
#include <string>

#include "ipc/ql_process_socket_server.h"
#include "log/ql_init_logger.h"
#include "log/ql_log.h"
#include "log/ql_log_buffer.h"
#include "main/ql_arguments.h"
#include "main/ql_helper_process_main.h"
#include "main/ql_lock.h"
#include "main/ql_service_notifier.h"
#include "main/ql_signal_stopper.h"
#include "main/ql_socket_activation.h"
#include "main/ql_version.h"
#include "service/ql_service_registry.h"

int main(int argc, char** argv) {
  // Termination signals are only recorded; the stopper thread runs the stop.
  if (!InstallTerminationHandlers()) {
    perror("quorlin_gd: cannot create the signal pipe");
    return 1;
  }
  // Blocked before any other thread exists, so every thread inherits it: a
  // write to a vanished peer fails instead of ending the process.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, NULL);
  if (!StartStopperThread(sig_handler)) {
    fprintf(stderr, "quorlin_gd: cannot start the signal thread\n");
    return 1;
  }

  QLArguments arguments;
  arguments.log_file_path = GetLogFileName();
  arguments.log_level = 3;
  arguments.log_to_console = false;
  arguments.log_to_syslog = false;
  arguments.log_to_zovuvoze = false;
  parse_arguments(argc, argv, &arguments);
  if (arguments.show_help || arguments.show_version) {
    // Before the lock, the log and the socket: asking changes nothing.
    if (arguments.show_help) {
      PrintUsage(stdout, argv[0]);
    } else {
      printf("%s\n", QLVersionLine(GetProcessName()).c_str());
    }
    FinishStopperThread();
    return 0;
  }
  if (!arguments.pid_file.empty()) ql_set_pid_file(arguments.pid_file.c_str());

  boost::shared_ptr<QLLogBuffer> buffer(new QLLogBuffer(128));
  InitLogger(arguments, buffer);
  // Declared after the buffer and before the service, so on every return the
  // service goes first, then the stream lets go of the buffer, then the
  // buffer itself: its sinks write "Log ended!" as main returns.
  struct LoggerDetach {
    ~LoggerDetach() { ShutdownLogger(); }
  } logger_detach;

  std::string const name = GetProcessName();
  QL_DEBUG(name << " process init server");

  if (ql_check_lock(name.c_str()) != 0) {
    QL_ERROR("Process " << name << " already running!");
    FinishStopperThread();
    return 0;
  }
  if (TakeProcessLock(name.c_str()) != 0) {
    QL_ERROR("Process " << name << " lock problem! Bailing out!");
    FinishStopperThread();
    return 1;
  }

  boost::shared_ptr<QLAbstractHelper> const helper = GetProcessHelper();
  boost::shared_ptr<QLProcessHelperSocketServerService> service(
      new QLProcessHelperSocketServerService(GetProcessSocketName(), helper));
  // Under a service manager: the socket it may have opened for us, the
  // readiness once the socket listens, and a status line while serving.
  int activated_socket = -1;
  QLActivation const activation = TakeActivatedSocket(&activated_socket);
  if (activation == QLActivation::kListening) service->UseListeningSocket(activated_socket);
  service->SetSocketPathAccess(arguments.socket_mode, arguments.socket_group);
  service->SetPeerFilter(arguments.peer_filter);
  service->SetMaxPeerConnections(arguments.max_peer_connections);
  QLReceiveLimits limits;
  limits.frame_timeout_ms = arguments.frame_timeout_ms;
  limits.idle_timeout_ms = arguments.idle_timeout_ms;
  service->SetReceiveLimits(limits);  // the budget follows the frame bound
  service->SetListeningCallback([] { NotifyServiceManager("READY=1"); });
  QLStatusReporter status_reporter([helper] { return helper->StatusText(); },
                                   std::chrono::seconds(1));
  if (activation == QLActivation::kUnusable) {
    QL_ERROR("Not serving: the socket passed by the service manager cannot be used.");
  } else if (service->InitHelper()) {
    QLServiceRegistry::RegisterService(QLProcessHelperSocketServerService::kName, service);
    if (StopRequested()) {
      // The signal came while starting up: honour it instead of serving.
      QL_INFO(name << " stop requested during start-up; not serving");
    } else {
      service->StartServer();
    }
  } else {
    QL_ERROR("Failed to init helper: " << argv[0]);
  }

  status_reporter.Stop();
  // A stop sequence in progress finishes (and releases the lock) first.
  FinishStopperThread();
  int status = 0;
  if (ql_unlock(name.c_str()) != 0) {
    QL_ERROR("Quorlin lock unlock problem! Check lock!");
    status = 1;
  }
  if (service->AbandonedWorkers() > 0) {
    // A worker stuck in the kernel still runs and may wake at any time: it
    // uses the helper, the registry and the log. End here, the log closed,
    // instead of destroying all that under it.
    ShutdownLogger();
    buffer.reset();
    _exit(status);
  }
  return status;
}
