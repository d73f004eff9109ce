// vokbench: the simulated hardware's command.
#include "bitgen.h"

#include <cstdio>
#include <cstring>

namespace {

const char usage[] =
    "usage: vokbench COMMAND [ARG...]\n"
    "  mkbit --part PART -o FILE [--design NAME] [--date D] [--time T]\n"
    "        [--startup jtag|cclk] [--seed S] [--corrupt WORD]\n";

} // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "mkbit") == 0)
        return bench::mkbit_command(argc - 2, argv + 2);
    std::fputs(usage, stderr);
    return 2;
}
