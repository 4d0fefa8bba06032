// QLCommandLineOption: one option a unit contributes to a program's command
// line, with its --help lines and what it does with its value; and
// ParseCommandLine, the one parser of the daemon's and every tool's command
// line.
//
// The syntax (getopt_long's): "--name VALUE", "--name=VALUE", an
// unambiguous abbreviation of the name, "-c VALUE" or "-cVALUE" for an
// option with a one-letter name; options and operands in any order; "--"
// ends the options. Numbers are written one way everywhere: decimal digits
// only (no sign, no blanks, no "0x"); only identifiers, such as a resource
// id, also take "0x" hexadecimal, and say so in their help.
//
// Contract: plain value records. The program that parses its command line
// keeps the records alive while it parses and calls ParseCommandLine on its
// own (main) thread, before other threads start (getopt's state is the
// process's); `apply` runs on that thread, once per occurrence of the
// option, in command-line order.
#ifndef QUORLIN_BASE_QL_COMMAND_LINE_OPTION_H_
#define QUORLIN_BASE_QL_COMMAND_LINE_OPTION_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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
  // given without one. False when the value is refused; the caller then
  // reports it and the setting stays as it was.
  std::function<bool(char const* value)> apply;
  // Also "-c" for this letter; 0 for none.
  char letter = 0;
  // With takes_value false: "--name=VALUE" is also accepted (never the next
  // word); `apply` gets null without one.
  bool value_optional = false;
};

// A number option: `value` parsed as decimal digits from `low` to `high`,
// then handed to `store`.
QLCommandLineOption NumberOption(std::string name, std::uint64_t low, std::uint64_t high,
                                 std::string expected, std::function<void(std::uint64_t)> store);

// A flag: given, it sets `*target` to true; it takes no value.
QLCommandLineOption FlagOption(std::string name, bool* target);

enum class QLCommandLineMode {
  // The daemon's: getopt_long prints its own message for an unknown option
  // (skipped) and for a missing value (the parse ends there, false); a
  // refused value is reported on standard error as
  // "PROGRAM: ignoring --NAME 'VALUE' (expected EXPECTED)" and the parse
  // goes on.
  kReportAndGoOn,
  // The tools': the first unknown option, missing or unwanted value or
  // refused value ends the parse, false, with one line in *error; a refused
  // value reads "--NAME must be EXPECTED, not "VALUE"" unless `apply` has
  // put a message of its own into *error.
  kStopAtFirstError,
};

// Parses argv (argv[0] is the program name) against `options`; the words
// that are not options, in order, go to *operands when it is not null.
// True when the whole command line was read.
bool ParseCommandLine(int argc, char** argv, std::vector<QLCommandLineOption> const& options,
                      QLCommandLineMode mode, std::vector<std::string>* operands,
                      std::string* error);

#endif  // QUORLIN_BASE_QL_COMMAND_LINE_OPTION_H_
