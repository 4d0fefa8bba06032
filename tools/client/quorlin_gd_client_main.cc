// quorlin_gd_client: asks the running daemon for one thumbnail.
#include <iostream>
#include <string>

#include "ql_client.h"
#include "ql_client_options.h"

int main(int argc, char** argv) {
  std::string const program = argc > 0 ? argv[0] : "quorlin_gd_client";
  QLClientOptions options;
  std::string error;
  if (!ParseClientOptions(argc, argv, &options, &error)) {
    std::cerr << program << ": " << error << "\n"
              << "Try " << program << " --help\n";
    return kClientUsage;
  }
  if (options.help) {
    std::cout << ClientUsage(program);
    return kClientOk;
  }
  return RunClient(options, std::cerr);
}
