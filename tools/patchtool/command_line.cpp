#include "tools/patchtool/command_line.h"

#include <cstring>

#include "tools/patchtool/console.h"

namespace patchtool {

ParseOutcome ParseArguments(const char* command, int argc, char** argv, const std::string& usage,
                            const std::string& help, std::initializer_list<ValueOption> options,
                            std::initializer_list<rt::Text*> names, SignOptions* sign) {
  // Bounded by argc: every round takes one argument or an option and its value.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintOut(help);
      return ParseOutcome::kHelpShown;
    }
    if (sign != nullptr) {
      const OptionTaken taken = TakeSignOption(command, argc, argv, &i, sign);
      if (taken == OptionTaken::kBad) return ParseOutcome::kUsageError;
      if (taken == OptionTaken::kTaken) continue;
    }
    const ValueOption* option = nullptr;
    for (const ValueOption& candidate : options) {
      if (std::strcmp(argv[i], candidate.name) == 0 && i + 1 < argc) {
        option = &candidate;
        break;
      }
    }
    if (option != nullptr) {
      *option->value = argv[++i];
      if (option->check && !option->check(*option->value)) return ParseOutcome::kUsageError;
      continue;
    }
    rt::Text* name = nullptr;
    if (argv[i][0] != '-') {
      for (rt::Text* candidate : names) {
        if (candidate->empty()) {
          name = candidate;
          break;
        }
      }
    }
    if (name == nullptr) {
      ReportError(std::string(command) + ": unexpected argument " + Shown(argv[i]));
      PrintErr(usage);
      return ParseOutcome::kUsageError;
    }
    *name = argv[i];
  }
  return ParseOutcome::kRun;
}

}  // namespace patchtool
