#include "base/ql_command_line_option.h"

#include <getopt.h>
#include <stdio.h>

#include <utility>

#include "base/ql_parse_number.h"

QLCommandLineOption NumberOption(std::string name, std::uint64_t low, std::uint64_t high,
                                 std::string expected, std::function<void(std::uint64_t)> store) {
  QLCommandLineOption option;
  option.name = std::move(name);
  option.takes_value = true;
  option.expected = std::move(expected);
  option.apply = [low, high, store](char const* value) {
    std::uint64_t number = 0;
    if (!ParseUnsigned(value, low, high, &number)) return false;
    store(number);
    return true;
  };
  return option;
}

QLCommandLineOption FlagOption(std::string name, bool* target) {
  QLCommandLineOption option;
  option.name = std::move(name);
  option.apply = [target](char const*) { return *target = true; };
  return option;
}

namespace {

// getopt_long's value for options[i]; above every letter.
int const kFirstIndex = 256;

QLCommandLineOption const* Find(std::vector<QLCommandLineOption> const& options, int value) {
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (value == kFirstIndex + static_cast<int>(i) ||
        (options[i].letter != 0 && value == options[i].letter)) {
      return &options[i];
    }
  }
  return nullptr;
}

}  // namespace

bool ParseCommandLine(int argc, char** argv, std::vector<QLCommandLineOption> const& options,
                      QLCommandLineMode mode, std::vector<std::string>* operands,
                      std::string* error) {
  bool const strict = mode == QLCommandLineMode::kStopAtFirstError;
  if (strict) error->clear();  // empty until an apply or the parser fills it
  // A leading ':' tells a missing value (':') from an unknown option ('?').
  std::string letters = strict ? ":" : "";
  std::vector<struct option> table;
  for (std::size_t i = 0; i < options.size(); ++i) {
    QLCommandLineOption const& entry = options[i];
    int const has_arg = entry.takes_value      ? required_argument
                        : entry.value_optional ? optional_argument
                                               : no_argument;
    table.push_back({entry.name.c_str(), has_arg, nullptr, kFirstIndex + static_cast<int>(i)});
    if (entry.letter != 0) {
      letters += entry.letter;
      if (entry.takes_value) letters += ':';
    }
  }
  table.push_back({nullptr, 0, nullptr, 0});

  optind = 0;  // full rescan, also when called more than once
  opterr = strict ? 0 : 1;
  for (;;) {
    int const found = getopt_long(argc, argv, letters.c_str(), table.data(), nullptr);
    if (found == -1) break;
    QLCommandLineOption const* option = Find(options, found);
    if (option != nullptr) {
      if (option->apply(optarg)) continue;
      std::string const value = optarg ? optarg : "";
      if (strict) {
        if (error->empty()) {
          *error = "--" + option->name + " must be " + option->expected + ", not \"" + value + "\"";
        }
        return false;
      }
      fprintf(stderr, "%s: ignoring --%s '%s' (expected %s)\n", argv[0], option->name.c_str(),
              value.c_str(), option->expected.c_str());
      continue;
    }
    QLCommandLineOption const* named = optopt != 0 ? Find(options, optopt) : nullptr;
    if (!strict) {
      // getopt_long has printed its message. A missing value (or a value
      // given to an option that takes none) ends the parse; an unknown
      // option is skipped.
      if (named != nullptr) return false;
      continue;
    }
    if (found == ':') {
      *error = "--" + named->name + " needs a value";
    } else if (named != nullptr) {
      *error = "--" + named->name + " takes no value";
    } else {
      *error = std::string("unknown option \"") + argv[optind - 1] + "\"";
    }
    return false;
  }
  for (int i = optind; i < argc; ++i) {
    if (operands != nullptr) operands->push_back(argv[i]);
  }
  return true;
}
