// What is installed beside draxel-assets says what the program does: the man page names every
// command and every option that the program's --help prints, in that command's section, and
// nothing the program no longer has; the bash completion offers what --help lists. And pack's
// depfile, which a build reads to know when to pack again.
#include "TestSupport.h"
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using testing_support::ReadFile;

namespace {

using Names = std::set<std::string>;

// The first words of the lines of a --help section ("Options", "Subcommands"), options split
// at their commas ("-m,--mount" is -m and --mount).
Names HelpSection(const std::string& p_help, const std::string& p_section)
{
    Names names;
    std::istringstream lines(p_help);
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || (line.back() == ':' && line.find(' ') == std::string::npos)) {
            inside = line == p_section + ":";
            continue;
        }
        if (!inside || line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] == ' ')
            continue;
        std::string first = line.substr(2, line.find(' ', 2) - 2);
        std::istringstream parts(first);
        for (std::string part; std::getline(parts, part, ',');)
            names.insert(part);
    }
    return names;
}

// The man page's source with its escapes undone: "\-" is '-', font changes are dropped.
std::string PlainText(const std::string& p_troff)
{
    std::string text = std::regex_replace(p_troff, std::regex(R"(\\f[BIRP])"), "");
    return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// The options named by the tags (the line after .TP) of each section, keyed by the section's
// first word: ".SH OPTIONS" is "OPTIONS", '.SS "pack [options] OUT"' is "pack".
std::map<std::string, Names> ManPageOptions(const std::string& p_page)
{
    std::map<std::string, Names> sections;
    std::istringstream lines(PlainText(p_page));
    std::string section;
    bool tag = false;
    const std::regex option(R"((^|[\s,"])(--?[A-Za-z][A-Za-z0-9-]*))");
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(".SH ", 0) == 0 || line.rfind(".SS ", 0) == 0) {
            std::string title = line.substr(4);
            title.erase(0, title.find_first_not_of("\" "));
            section = title.substr(0, title.find_first_of(" \""));
            sections[section];
            tag = false;
        } else if (line == ".TP") {
            tag = true;
        } else if (tag) {
            for (std::sregex_iterator match(line.begin(), line.end(), option), end; match != end; ++match)
                sections[section].insert((*match)[2]);
            tag = false;
        }
    }
    return sections;
}

std::string Listed(const Names& p_names)
{
    std::string text;
    for (const std::string& name : p_names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

class ToolDocumentation : public Tool {
protected:
    std::string Help(const std::string& p_command)
    {
        const Result result = Run(p_command + " --help");
        EXPECT_EQ(result.status, 0) << p_command << ": " << result.err;
        return result.out;
    }

    // The words the completion offers after p_words (the last one being completed).
    Names Complete(const std::string& p_words)
    {
        const std::string tool = DRAXEL_ASSETS_TOOL;
        const std::string script = "PATH=" + std::filesystem::path(tool).parent_path().string() + ":$PATH; source " +
                                   DRAXEL_ASSETS_COMPLETION + "; COMP_WORDS=(" + p_words +
                                   "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _draxel_assets; "
                                   "printf '%s\\n' \"${COMPREPLY[@]}\"";
        _dir.Write("complete.sh", script);
        const std::string out = _dir / "complete.out";
        EXPECT_EQ(testing_support::RunShell("bash " + (_dir / "complete.sh") + " >" + out), 0);
        Names words;
        std::istringstream lines(ReadFile(out));
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                words.insert(line);
        return words;
    }
};

} // namespace

TEST_F(ToolDocumentation, ManPageHasEveryCommandAndOptionOfTheHelpAndNoOther)
{
    const std::map<std::string, Names> page = ManPageOptions(ReadFile(DRAXEL_ASSETS_MAN_PAGE));
    const std::string mainHelp = Help("");
    const Names commands = HelpSection(mainHelp, "Subcommands");
    ASSERT_GE(commands.size(), 9u) << mainHelp;

    ASSERT_TRUE(page.count("OPTIONS"));
    const Names& global = page.at("OPTIONS");
    for (const std::string& option : HelpSection(mainHelp, "Options"))
        EXPECT_TRUE(global.count(option)) << option << " (draxel-assets --help) is not in the man page's OPTIONS";

    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        ASSERT_TRUE(page.count(command)) << "the man page has no section for " << command;
        const Names& documented = page.at(command);
        const Names options = HelpSection(Help(command), "Options");
        for (const std::string& option : options) {
            if (option == "-h" || option == "--help")
                EXPECT_TRUE(global.count(option)) << option;
            else
                EXPECT_TRUE(documented.count(option))
                    << command << " " << option << " is not in the man page (it has: " << Listed(documented) << ")";
        }
        for (const std::string& option : documented)
            EXPECT_TRUE(options.count(option)) << "the man page names " << command << " " << option
                                               << ", which --help does not (" << Listed(options) << ")";
    }
    // And no section for a command the program does not have.
    for (const auto& section : page) {
        const bool isCommand = section.first.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
        if (isCommand) {
            EXPECT_TRUE(commands.count(section.first)) << "the man page describes a command " << section.first;
        }
    }
}

TEST_F(ToolDocumentation, ManPageHasTheSectionsAUserLooksFor)
{
    const std::map<std::string, Names> page = ManPageOptions(ReadFile(DRAXEL_ASSETS_MAN_PAGE));
    for (const char* section :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "COMMANDS", "ARCHIVE", "EXIT", "EXAMPLES"})
        EXPECT_TRUE(page.count(section)) << section;
}

TEST_F(ToolDocumentation, CompletionOffersCommandsAndEachCommandsOptions)
{
    const Names commands = Complete("draxel-assets ''");
    for (const char* command : {"pack", "ls", "check", "extract", "cat", "exists", "tree", "watch", "demo", "--help"})
        EXPECT_TRUE(commands.count(command)) << command << " among: " << Listed(commands);
    EXPECT_EQ(Complete("draxel-assets ch"), Names({"check"}));

    const Names packOptions = Complete("draxel-assets pack --d");
    EXPECT_EQ(packOptions, Names({"--depfile", "--directories"}));
    const Names options = HelpSection(Help("extract"), "Options");
    EXPECT_EQ(Complete("draxel-assets extract -"), options);
    // A file name after an option that takes one.
    _dir.Write("keys/game.key", "k");
    EXPECT_EQ(Complete("draxel-assets ls --key-file " + (_dir / "keys/ga")), Names({_dir / "keys/game.key"}));
}

TEST_F(ToolDocumentation, PackDepfileNamesEveryFileAndFolderEscaped)
{
    MakeTree("tree");
    _dir.Write("tree/with space/x#1.txt", "x");
    _dir.Write("game.key", "0123456789abcdef");
    const Result result = Run("pack --key-file game.key --depfile out.d game.pak tree");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string depfile = ReadFile(_dir / "out.d");
    // The program's working directory, as the system gives it.
    const std::string base = std::filesystem::canonical(_dir.path()).generic_string();
    EXPECT_EQ(depfile.substr(0, depfile.find(':')), base + "/game.pak");
    for (const std::string dependency :
         {"/tree", "/tree/a.txt", "/tree/sub", "/tree/sub/b.txt", "/tree/sub/deeper", "/tree/sub/deeper/c.bin",
          "/tree/with\\ space", "/tree/with\\ space/x\\#1.txt", "/game.key"})
        EXPECT_NE(depfile.find(" \\\n  " + base + dependency + (dependency == "/game.key" ? "\n" : "")),
                  std::string::npos)
            << dependency << " in:\n"
            << depfile;
    // Only what was packed: the archive and the depfile themselves are in no list.
    EXPECT_EQ(depfile.find("game.pak", depfile.find(':')), std::string::npos) << depfile;
}

TEST_F(ToolDocumentation, PackDepfileRefusalsLeaveNoDepfile)
{
    MakeTree("tree");
    EXPECT_EQ(Run("pack --depfile out.d - tree").status, 2);
    // A pack that fails writes no depfile (and no archive).
    EXPECT_EQ(Run("pack --depfile out.d game.zip tree missing").status, 1);
    EXPECT_FALSE(std::filesystem::exists(_dir / "out.d"));
    EXPECT_FALSE(std::filesystem::exists(_dir / "game.zip"));
    // A depfile that cannot be written fails the pack, and the archive is not put in place.
    const Result unwritable = Run("pack --depfile no/such/folder/out.d game.zip tree");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("no/such/folder/out.d"), std::string::npos) << unwritable.err;
    EXPECT_FALSE(std::filesystem::exists(_dir / "game.zip"));
}

TEST_F(ToolDocumentation, PackPlainWritesAPlainZipUnderAnyName)
{
    MakeTree("tree");
    ASSERT_EQ(Run("pack --plain game.pak tree").status, 0);
    EXPECT_EQ(Run("check --plain game.pak").status, 0);
    EXPECT_EQ(ReadFile(_dir / "game.pak").substr(0, 4), std::string("PK\3\4"));
    EXPECT_EQ(Run("pack --plain --key k game.pak tree").status, 2);
    EXPECT_EQ(Run("pack --plain --builtin game.pak tree").status, 2);
}
