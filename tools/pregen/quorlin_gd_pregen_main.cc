// quorlin_gd_pregen: has the running daemon make the thumbnails of a whole
// library ahead of time, or removes the stale ones (--prune).
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ql_pregen_entries.h"
#include "ql_pregen_options.h"
#include "ql_pregen_prune.h"
#include "ql_pregen_run.h"

namespace {

volatile sig_atomic_t g_stop_signal = 0;

// Only records the signal; the run polls it. SA_RESETHAND makes a second
// Ctrl-C end the program at once.
void RecordSignal(int signal_number) { g_stop_signal = signal_number; }

void InstallStopHandler(int signal_number) {
  struct sigaction action = {};
  action.sa_handler = &RecordSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  std::string const program = argc > 0 ? argv[0] : "quorlin_gd_pregen";
  QLPregenOptions options;
  std::string error;
  if (!ParsePregenOptions(argc, argv, &options, &error)) {
    std::cerr << program << ": " << error << "\n"
              << "Try " << program << " --help\n";
    return kPregenUsage;
  }
  if (options.help) {
    std::cout << PregenUsage(program);
    return kPregenOk;
  }

  std::vector<QLPregenEntry> entries;
  bool read = false;
  // A walk that skipped folders may leave out files that are still there.
  bool complete = true;
  if (!options.walk.empty()) {
    std::vector<std::string> warnings;
    read = WalkFolder(options.walk, options.thumbnail_folder, &entries, &warnings, &error);
    for (std::string const& warning : warnings) std::cerr << program << ": " << warning << "\n";
    complete = warnings.empty();
  } else if (options.list == "-") {
    read = ReadList(std::cin, &entries, &error);
  } else {
    std::ifstream list(options.list, std::ios::binary);
    if (!list) {
      error = "cannot open the list " + options.list;
    } else {
      read = ReadList(list, &entries, &error);
    }
  }
  if (!read) {
    std::cerr << program << ": " << error << "\n";
    return kPregenUsage;
  }

  InstallStopHandler(SIGINT);
  InstallStopHandler(SIGTERM);
  if (options.prune) {
    return PruneExitStatus(PruneCache(
        options, entries, complete, [] { return g_stop_signal != 0; }, std::cerr));
  }
  // The last reply of an interrupted run must still be read; a write to a
  // connection the daemon closed must come back as an error, not kill us.
  signal(SIGPIPE, SIG_IGN);
  QLPregenResult const result = RunPregen(
      options, entries, [] { return g_stop_signal != 0; }, std::cerr, isatty(STDERR_FILENO) == 1);
  return PregenExitStatus(result);
}
