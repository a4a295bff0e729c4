// Process entry of ouzel-convert, the command-line front end of the conversion engine.
#include <string>
#include <vector>

#include "cli/cli_main.h"
#include "util/i18n.h"

int main(int argc, char** argv) {
  i18n::start(i18n::Output::terminal);
  return run_cli(std::vector<std::string>(argv + 1, argv + argc));
}
