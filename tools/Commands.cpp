// The command set of draxel-assets and the key options its commands share.
#include "Commands.h"

#include "ToolSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace draxel_tool {

CommandSet::CommandSet(CLI::App& p_app) : _app(p_app) {}

CLI::App* CommandSet::Add(const std::string& p_name, const std::string& p_help, std::function<int()> p_run)
{
    CLI::App* command = _app.add_subcommand(p_name, p_help);
    _commands.push_back(Command{command, std::move(p_run)});
    return command;
}

int CommandSet::RunChosen() const
{
    for (const Command& command : _commands)
        if (*command.command)
            return command.run();
    return Success;
}

void AddKeyOptions(CLI::App& p_command, KeyOptions& p_key)
{
    CLI::Option* text = p_command.add_option("--key", p_key.text, "Scramble key, as text");
    CLI::Option* file = p_command.add_option("--key-file", p_key.file, "Scramble key: the bytes of this file");
    text->excludes(file);
}

std::string ResolveKey(const std::string& p_text, const std::string& p_file)
{
    if (p_file.empty())
        return p_text;
    std::ifstream in(std::filesystem::u8path(p_file), std::ios_base::binary);
    if (!in)
        throw Failure(p_file, "cannot read the key file");
    std::string key((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (key.empty())
        throw Failure(p_file, "the key file is empty", BadUsage);
    return key;
}

} // namespace draxel_tool
