// draxel-assets demo: what a host sees when it builds a Resource over an example resource tree,
// step by step.
#include "Commands.h"
#include "Platform.h"
#include "ToolSupport.h"
#include "TreeCommands.h"
#include "WatchCommand.h"

#include <Assets/ImageCache.h>
#include <Assets/Resource.h>

#include <filesystem>
#include <iostream>
#include <sstream>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

void Section(std::ostream& p_out, int p_number, const std::string& p_title)
{
    p_out << '\n' << p_number << ". " << p_title << '\n';
}

void PrintLines(std::ostream& p_out, Reports& p_reports)
{
    for (const Reports::Line& line : p_reports.TakeLines()) {
        p_out << "     " << line.level;
        if (!line.channel.empty())
            p_out << " [" << line.channel << ']';
        p_out << "  " << line.text << '\n';
    }
}

std::string FileName(const qorfile::filepath& p_path)
{
    return p_path.name().str();
}

// Builds a Resource over p_root (Shaders/ with Tests/, images/, fonts/, assets/) and writes
// the tour to p_out. Returns the exit status.
int RunDemo(const std::string& p_root, std::ostream& p_out)
{
    if (!fs::is_directory(p_root))
        throw Failure(p_root, "no such directory (a resource tree has Shaders/, images/, fonts/ and assets/)");
    const fs::path root = fs::absolute(p_root).lexically_normal();
    const std::string rootText = root.generic_string();
    const std::string trimmed =
        rootText.size() > 1 && rootText.back() == '/' ? rootText.substr(0, rootText.size() - 1) : rootText;
    const qorfile::filepath rootPath(trimmed);
    const qorfile::filepath images = rootPath + qorfile::pathcomp("images");
    const qorfile::filepath fonts = rootPath + qorfile::pathcomp("fonts");
    const qorfile::filepath assets = rootPath + qorfile::pathcomp("assets");
    const qorfile::filepath temporary((fs::temp_directory_path() / "draxel-assets-demo").generic_string());

    Reports reports(Reports::Throw);
    reports.SetSubject(p_root);
    reports.CaptureLines(true);

    p_out << "Qor.Draxel.Assets: one read-only virtual tree of assets, assembled from directories and ZIP\n"
             "archives mounted at chosen points with chosen priorities. This tour builds a Resource over\n"
          << trimmed << " and shows what the host sees.\n";

    Section(p_out, 1, "Building the Resource: the lines it logs");
    p_out << "   Resource(root, images, fonts, assets, temporary) logs its directories, catalogues the\n"
             "   fonts, then mounts the built-in archive (priority 0) and Shaders/Tests (priority 1):\n";
    const Resource resource(rootPath, images, fonts, assets, temporary);
    PrintLines(p_out, reports);

    Section(p_out, 2, "The mount table, in search order (highest priority first)");
    p_out << "   Exists and Open ask the volumes in this order; the first that has the asset answers.\n";
    std::string archiveName;
    for (const AssetLibrary::MountedVolume& mount : resource.Library()->Mounts()) {
        p_out << "     priority " << mount.priority << "  " << (mount.isArchive ? "archive  " : "directory") << "  at /"
              << mount.target.str() << "  <- " << mount.source.str() << '\n';
        if (mount.isArchive)
            archiveName = fs::path(mount.source.str()).filename().string();
    }
    if (!archiveName.empty())
        p_out << "   The archive " << archiveName
              << " is scrambled: every byte XORed with the built-in key by its offset.\n";

    Section(p_out, 3, "The merged tree (each entry with the source that wins it)");
    std::ostringstream tree;
    PrintTree(*resource.Library(), AssetPath(), "     ", tree);
    p_out << tree.str();
    p_out << "   Shaders/Tests/colour.frag is in the archive too: the directory, at priority 1, shadows it.\n";

    Section(p_out, 4, "A shader through the shader view (the tree below \"Shaders\")");
    for (const char* name : {"basic.vert", "Tests/colour.frag"}) {
        boost::shared_ptr<std::istream> stream = resource.Shaders()->Open(AssetPath(std::string(name)), Volume::Text);
        if (!stream)
            throw Failure(std::string("Shaders/") + name, "no such asset");
        std::ostringstream text;
        text << stream->rdbuf();
        p_out << "   Shaders()->Open(\"" << name << "\", Text):\n";
        std::istringstream lines(text.str());
        for (std::string line; std::getline(lines, line);)
            p_out << "     | " << line << '\n';
    }

    Section(p_out, 5, "Fonts, looked up by face name in any letter case, with the fallback road");
    reports.TakeLines();
    for (const char* face : {"DejaVuSansMono", "Verdana", ""}) {
        const qorfile::filepath font = resource.FontFile(face);
        p_out << "   FontFile(\"" << face << "\") -> " << FileName(font) << '\n';
        PrintLines(p_out, reports);
    }
    std::vector<qorfile::filepath> set = resource.FontSet("DejaVuSerif");
    p_out << "   FontSet(\"DejaVuSerif\") -> ";
    for (std::size_t i = 0; i < set.size(); ++i)
        p_out << (i ? ", " : "") << FileName(set[i]);
    p_out << '\n';
    PrintLines(p_out, reports);

    Section(p_out, 6, "An image decoded through the cache");
    ImageCache cache(resource);
    const qorfile::filepath logo = resource.ImageFile("logo");
    const QImage& first = cache.Image(logo);
    const QImage& second = cache.Image(logo);
    p_out << "   ImageFile(\"logo\") -> " << FileName(logo) << " in the image directory\n"
          << "   ImageCache::Image -> " << first.width() << " x " << first.height() << " pixels, " << first.depth()
          << " bits per pixel; a second request returns the "
          << (&first == &second ? "same cached image" : "image again") << '\n';
    try {
        cache.Image(qorfile::filepath(images.str() + "/missing.png"));
    } catch (const ImageCache::NoImageFoundException& error) {
        p_out << "   a missing file raises ImageCache::NoImageFoundException: \"" << error.what() << "\"\n";
    }
    PrintLines(p_out, reports);

    Section(p_out, 7, "Hot reload: a shader edited on disk and an archive repacked, picked up while the program runs");
    ShowHotReload(resource.Library(), temporary.str(), p_out);
    reports.TakeLines();
    p_out << std::flush;
    return Success;
}

// The installed tree (DRAXEL_DEMO_INSTALLED, relative to the program's folder) when the program
// runs where it was installed, otherwise the tree the build prepared.
std::string DefaultRoot()
{
    const std::string self = platform::ExecutablePath();
    if (!self.empty()) {
        std::error_code error;
        const fs::path installed =
            (fs::u8path(self).parent_path() / fs::u8path(DRAXEL_DEMO_INSTALLED)).lexically_normal();
        if (fs::is_directory(installed, error))
            return installed.u8string();
    }
    return DRAXEL_DEMO_ROOT;
}

} // namespace

void AddDemoCommand(CommandSet& p_commands)
{
    auto root = std::make_shared<std::string>(DefaultRoot());
    CLI::App* demo = p_commands.Add("demo", "A guided tour of the library over an example resource tree",
                                    [root] { return RunDemo(*root, StandardOutput()); });
    demo->add_option("ROOT", *root,
                     "Resource tree with Shaders/ (and Shaders/Tests/), images/, fonts/ and assets/ (the built-in "
                     "archive); default: the tree installed with the program, or the one the build prepares")
        ->capture_default_str();
}

} // namespace draxel_tool
