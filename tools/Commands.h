// How the commands of draxel-assets come together: each group of commands adds its
// subcommands to one CommandSet, each with the work it does once the command line is parsed.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace draxel_tool {

class CommandSet {
public:
    explicit CommandSet(CLI::App& p_app);

    // Adds the subcommand p_name; p_run is its work, which returns the exit status.
    CLI::App* Add(const std::string& p_name, const std::string& p_help, std::function<int()> p_run);
    // The work of the subcommand the command line named (Success when none was).
    int RunChosen() const;

private:
    struct Command {
        CLI::App* command;
        std::function<int()> run;
    };
    CLI::App& _app;
    std::vector<Command> _commands;
};

// --key TEXT or --key-file FILE, one of them.
struct KeyOptions {
    std::string text;
    std::string file;
};
void AddKeyOptions(CLI::App& p_command, KeyOptions& p_key);
// The key of --key TEXT or --key-file FILE (the file's bytes, unchanged); empty for none.
std::string ResolveKey(const std::string& p_text, const std::string& p_file);

// The groups of commands, one call each.
void AddDemoCommand(CommandSet& p_commands);
void AddPackCommand(CommandSet& p_commands);
void AddListCommands(CommandSet& p_commands); // ls, check
void AddExtractCommand(CommandSet& p_commands);
void AddTreeCommands(CommandSet& p_commands); // cat, exists, tree
void AddWatchCommand(CommandSet& p_commands);

} // namespace draxel_tool
