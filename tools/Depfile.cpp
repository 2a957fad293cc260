// Depfiles of draxel-assets pack (Depfile.h).
#include "Depfile.h"

#include "Platform.h"
#include "ToolSupport.h"

#include <filesystem>

namespace draxel_tool {

namespace fs = std::filesystem;

namespace {

std::string Escaped(const std::string& p_path)
{
    const std::string path = fs::absolute(fs::u8path(p_path)).lexically_normal().generic_u8string();
    std::string text;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char character = path[i];
        if (character == '\n' || character == '\r')
            throw Failure(p_path, "a path with a line break cannot be named in a depfile");
        if (character == ' ' || character == '#') {
            // Backslashes right before an escaped blank are doubled, as Make reads them.
            for (std::size_t j = i; j > 0 && path[j - 1] == '\\'; --j)
                text += '\\';
            text += '\\';
        } else if (character == '$') {
            text += '$';
        }
        text += character;
    }
    return text;
}

} // namespace

std::string DepfileText(const std::string& p_target, const std::vector<std::string>& p_dependencies)
{
    std::string text = Escaped(p_target) + ":";
    for (const std::string& dependency : p_dependencies)
        text += " \\\n  " + Escaped(dependency);
    return text + "\n";
}

void WriteDepfile(const std::string& p_file, const std::string& p_target,
                  const std::vector<std::string>& p_dependencies)
{
    const std::string text = DepfileText(p_target, p_dependencies);
    std::string error;
    std::unique_ptr<platform::OutputFile> file = platform::CreateOutputFile(p_file, error);
    if (!file)
        throw Failure(p_file, "cannot write the depfile: " + error);
    error = file->Write(text.data(), text.size());
    const std::string closing = file->Close();
    if (error.empty())
        error = closing;
    if (!error.empty())
        throw Failure(p_file, "write error: " + error);
}

} // namespace draxel_tool
