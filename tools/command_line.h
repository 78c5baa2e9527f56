// SPDX-License-Identifier: LGPL-2.1-or-later
// The command-line conventions of the platform's programs: --help and -h
// print the usage and exit 0; an unknown option prints it with status 2; "--"
// ends the options, so an operand may start with "-".
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

struct CommandLine {
  std::vector<const char*> options;   // the known options given, in order (argv's own text)
  std::vector<const char*> operands;  // everything else
  int exitStatus = -1;                // >= 0: exit with this status now
};

inline CommandLine ParseCommandLine(int argc, char** argv, const char* usage,
                                    std::initializer_list<std::string_view> known) {
  CommandLine line;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      line.operands.push_back(argv[i]);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      line.exitStatus = 0;
      return line;
    } else {
      bool isKnown = false;
      for (std::string_view k : known) isKnown = isKnown || arg == k;
      if (!isKnown) {
        std::fprintf(stderr, "%s: unknown option '%s'\n", argv[0], argv[i]);
        std::fputs(usage, stderr);
        line.exitStatus = 2;
        return line;
      }
      line.options.push_back(argv[i]);
    }
  }
  return line;
}

}  // namespace tools
