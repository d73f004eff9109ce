// Runs a vokbench command line parsed by CLI11: help goes to stdout with status 0,
// errors go to stderr with status 2, and a command reports its own exit status by
// throwing CLI::RuntimeError(status) from its callback.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace bench {

// "vokbench CMD" for the deepest subcommand that was given, "vokbench" without one.
inline std::string command_name(const CLI::App &app) {
    const CLI::App *at = &app;
    while (!at->get_subcommands().empty()) at = at->get_subcommands().front();
    std::string name = at->get_name();
    for (const CLI::App *p = at->get_parent(); p; p = p->get_parent()) name = p->get_name() + " " + name;
    return name;
}

// args without the program name, in their order.
inline int run_command_line(CLI::App &app, std::vector<std::string> args) {
    app.failure_message([](const CLI::App *top, const CLI::Error &e) {
        std::string who = command_name(*top);
        std::string text = who + ": " + e.what() + "\n";
        if (top->get_subcommands().empty()) return text + top->help(); // no command given
        return text + "Run '" + who + " --help' for more information.\n";
    });
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
        return 0;
    } catch (const CLI::Error &e) {
        int status = app.exit(e);
        return e.get_name() == "RuntimeError" || status == 0 ? status : 2;
    }
}

} // namespace bench
