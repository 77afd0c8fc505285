#include "tools/vello/Commands.h"

std::string HelpFooter(const std::string& example) {
  return "\nExample:\n  " + example +
         "\n\nExit codes: 0 ok, 1 faults found (or the command failed), 2 usage error,\n"
         "3 unreadable input.\n";
}
