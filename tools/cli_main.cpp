// linkrelay-cli: the command-line client of the linkrelay service.
#include "tools/cli.h"

#include <iostream>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return linkrelay::cli::runCli(arguments, std::cin, std::cout, std::cerr);
}
