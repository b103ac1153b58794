// qarn: loads the Modbus RTU master plug-in into our reference host and drives it from the
// command line. Exit status: 0 success, 1 device or protocol failure, 2 usage error.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <qarn/toolkit/BuildVersion.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include "Commands.h"
#include "NearestWord.h"

int main(int argc, char** argv) {
    using namespace qarn;
    CLI::App app{"qarn - Modbus RTU master on a serial line, through the QARN plug-in"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("qarn ") + versionText(),
                         "Print the version and exit");
    app.footer("Run 'qarn COMMAND --help' for the options of a command.");

    LineOptions options;
    std::vector<std::unique_ptr<Command>> commands = makeCommands();
    std::map<CLI::App*, Command*> bySubcommand;
    for (const auto& command : commands) {
        CLI::App* sub = app.add_subcommand(command->name(), command->summary());
        command->define(*sub);
        addLineOptions(*sub, options);
        if (command->talksToLine()) {
            addPortOptions(*sub, options);
        }
        bySubcommand[sub] = command.get();
    }

    // The parser only says a command is required; a near miss deserves the command meant.
    std::vector<std::string> names;
    for (const auto& command : commands) {
        names.emplace_back(command->name());
    }
    if (argc > 1 && argv[1][0] != '-' &&
        std::find(names.begin(), names.end(), argv[1]) == names.end()) {
        const std::string meant = nearestWord(argv[1], names);
        std::cerr << "qarn: unknown command '" << argv[1] << "'"
                  << (meant.empty() ? "" : "; did you mean '" + meant + "'?")
                  << "\nRun 'qarn --help' for the commands.\n";
        return ExitUsage;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int printed = app.exit(e);
        return printed == 0 ? ExitOk : ExitUsage;
    }

    CLI::App* chosen = app.get_subcommands().front();
    try {
        finishLineOptions(*chosen, options);
        CommandContext context(options);
        return bySubcommand.at(chosen)->run(context);
    } catch (const UsageError& e) {
        std::cerr << "qarn: " << e.what() << "\nRun 'qarn " << chosen->get_name()
                  << " --help' for more information.\n";
        return ExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "qarn: " << e.what() << "\n";
        return ExitFailure;
    }
}
