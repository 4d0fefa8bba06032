// QLCommandLineOption: one long option a unit contributes to a program's
// command line, with its --help lines and what it does with its value.
//
// Contract: a plain value record. The program that parses its command line
// keeps the records alive while it parses and calls `apply` on its own
// (main) thread, once per occurrence of the option, in command-line order.
#ifndef QUORLIN_BASE_QL_COMMAND_LINE_OPTION_H_
#define QUORLIN_BASE_QL_COMMAND_LINE_OPTION_H_

#include <functional>
#include <string>

struct QLCommandLineOption {
  // Long name without the leading "--".
  std::string name;
  // True when the option requires a value ("--name VALUE" or "--name=VALUE").
  bool takes_value = false;
  // The option's lines in the --help text, each ending in "\n".
  std::string help;
  // What a valid value looks like, for the message on a refused one
  // ("1 to 64").
  std::string expected;
  // Takes the option in: `value` is the option's value, null for an option
  // without one. False when the value is refused; the caller then reports
  // it and the setting stays as it was.
  std::function<bool(char const* value)> apply;
};

#endif  // QUORLIN_BASE_QL_COMMAND_LINE_OPTION_H_
