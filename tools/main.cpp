// draxel-assets: the command-line program of the library. Reads the command line, runs the
// command it names, and turns what ends a command into one error line and an exit status.
#include "Commands.h"
#include "Platform.h"
#include "ToolSupport.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

using namespace draxel_tool;

int main(int argc, char** argv)
{
    platform::BinaryStandardOutput();
    const std::vector<std::string> arguments = platform::Arguments(argc, argv);
    CLI::App app{"draxel-assets: the command-line companion of Qor.Draxel.Assets, a read-only virtual tree of\n"
                 "assets over directories and ZIP archives (plain or XOR-scrambled)."};
    app.require_subcommand(1);
    app.set_version_flag("--version", "draxel-assets " DRAXEL_ASSETS_VERSION);
    app.footer("Archive names: an archive whose name ends in zip is a plain ZIP; any other name is read as\n"
               "scrambled, with the key given (--key, --key-file) or, without one, the key in its last 32 bytes.\n"
               "--plain reads such an archive as the plain ZIP it is.\n"
               "Exit status: 0 done, 1 a problem (named on standard error, one line each), 2 wrong usage.");

    CommandSet commands(app);
    AddDemoCommand(commands);
    AddPackCommand(commands);
    AddListCommands(commands);
    AddExtractCommand(commands);
    AddTreeCommands(commands);
    AddWatchCommand(commands);

    bool known = arguments.size() < 2 || arguments[1].empty() || arguments[1][0] == '-';
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        known = known || command->get_name() == arguments[1];
    if (!known) {
        PrintError(std::string(), "unknown subcommand " + arguments[1] + " (see --help)");
        return BadUsage;
    }
    try {
        std::vector<const char*> pointers;
        for (const std::string& argument : arguments)
            pointers.push_back(argument.c_str());
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            // --help and --version: their text must reach standard output like any other.
            const int status = app.exit(error);
            try {
                FinishOutput();
            } catch (const Failure& failure) {
                PrintError(failure.subject, failure.what());
                return failure.status;
            }
            return status;
        }
        std::string message = error.what();
        for (char& character : message)
            if (character == '\n')
                character = ' ';
        PrintError(std::string(), message + " (see --help)");
        return BadUsage;
    }

    try {
        const int status = commands.RunChosen();
        FinishOutput();
        return status;
    } catch (const Failure& failure) {
        PrintError(failure.subject, failure.what());
        return failure.status;
    } catch (const std::exception& error) {
        PrintError(std::string(), error.what());
        return Failed;
    }
}
