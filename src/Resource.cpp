// The resource directories: construction, the built-in archive list, the font catalogue and
// image file lookup.
#include <Assets/Resource.h>

#include "BuiltInArchive.h"
#include "Check.h"
#include "Messages.h"

#include <boost/filesystem.hpp>

#include <QFileInfo>
#include <QString>

namespace Qor {
namespace Draxel {
namespace Assets {

const char* DEFAULTFONTFACE = "dejavusans";

namespace {

// ---------------------------------------------------------------------------------------
// Font face tables, built when the library is loaded.

const qorfile::pathcomp FALLBACKFONTFACES[] = {
    qorfile::pathcomp(DEFAULTFONTFACE), qorfile::pathcomp("verdana"), qorfile::pathcomp("arial"),
    qorfile::pathcomp("cour"),          qorfile::pathcomp("micross"), qorfile::pathcomp("tahoma"),
};

const qorfile::pathcomp DEFAULTFONTSETFACES[] = {
    qorfile::pathcomp("vl-pgothic-regular"),
};

const char* const SystemFontDirectory = "C:\\Windows\\Fonts";

std::string Lower(const std::string& p_text)
{
    return QString::fromStdString(p_text).toLower().toStdString();
}

} // namespace

// ---------------------------------------------------------------------------------------
// Construction.

Resource::Resource(const qorfile::filepath& p_root, const qorfile::filepath& p_image, const qorfile::filepath& p_font,
                   const qorfile::filepath& p_assets, const qorfile::filepath& p_temporary)
    : _rootDirectory(p_root), _temporaryDirectory(p_temporary), _fontDirectory(p_font), _imageDirectory(p_image)
{
    // Every line asks for the logger anew: the host may hand out another one at each call.
    Utility::GetLogger().dlog("") << "root directory  : " << p_root.str() << std::endl;
    Utility::GetLogger().dlog("") << "image directory : " << p_image.str() << std::endl;
    Utility::GetLogger().dlog("") << "font directory  : " << p_font.str() << std::endl;
    Utility::GetLogger().dlog("") << "assets directory  : " << p_assets.str() << std::endl;
    Utility::GetLogger().dlog("") << "temporary directory : " << p_temporary.str() << std::endl;

    Check(p_root.valid() && p_image.valid() && p_font.valid(), Messages::ResourceInvalidPaths);
    Check(qorfile::direxists(p_root), Messages::ResourceNoRoot);
    Check(qorfile::direxists(p_image), Messages::ResourceNoImage);
    Check(qorfile::direxists(p_font), Messages::ResourceNoFont);

    if (!qorfile::direxists(p_temporary))
        boost::filesystem::create_directory(boost::filesystem::path(p_temporary.str()));

    CacheFontsInDir(p_font);
    const qorfile::filepath systemFonts(SystemFontDirectory);
    Utility::GetLogger().dlog("") << "system font : " << systemFonts.str() << std::endl;
    if (qorfile::direxists(systemFonts))
        CacheFontsInDir(systemFonts);
    Check(!_fontPaths.empty(), Messages::ResourceNoFonts);

    _library = AssetLibrary::Create();
    const boost::shared_ptr<AssetLibrary>& library = _library;

    for (const BuiltInArchive& archive : BuiltInArchives()) {
        const qorfile::filepath path = p_assets + qorfile::pathcomp(archive.name);
        if (qorfile::fileexists(path))
            library->MountArchive(path, AssetPath(), 0, archive.key);
    }

    const qorfile::filepath resourceRoot = p_image + qorfile::pathcomp("..");
    const AssetPath shaderDir(std::string("Shaders"));
    const qorfile::filepath shaderTestDirectory =
        resourceRoot + qorfile::pathcomp(shaderDir.str()) + qorfile::pathcomp("Tests");
    if (qorfile::direxists(shaderTestDirectory)) {
        const AssetPath shaderTestDir = shaderDir + AssetPath(std::string("Tests"));
        library->MountDirectory(shaderTestDirectory, shaderTestDir, 1);
        Check(library->Exists(shaderTestDir), Messages::ResourceNoShaderTests);
    }

    if (Utility::Environment::Enabled(Utility::EnvironmentFlags::AssetsMountResourceRoot().name))
        library->MountDirectory(resourceRoot, AssetPath(), 2);

    Check(library->Exists(shaderDir), Messages::ResourceNoShaders);

    _shaders = library->RelativeTo(shaderDir);
    _assets = _library;
}

Resource::Resource(const Resource& p_other) = default;
Resource::~Resource() = default;

// ---------------------------------------------------------------------------------------
// Font catalogue.

void Resource::CacheFontsInDir(const qorfile::filepath& p_directory)
{
    Utility::GetLogger().dlog("") << "searching: " << p_directory.str() << std::endl;
    for (qorfile::diriter entry(p_directory), end; entry != end; ++entry) {
        if (qorfile::direxists(*entry)) {
            CacheFontsInDir(*entry);
            continue;
        }
        const QFileInfo info(QString::fromStdString(entry->str()));
        const QString suffix = info.suffix().toLower();
        if (!info.isReadable() || (suffix != "otf" && suffix != "ttf"))
            continue;
        const std::string face = info.completeBaseName().toLower().toStdString();
        _fontPaths.emplace(face, *entry);
        Utility::GetLogger().dlog("") << "\t\t+font : " << face << std::endl;
    }
}

qorfile::filepath Resource::FontFile(const std::string& p_face) const
{
    const std::string face = Lower(p_face);
    auto found = _fontPaths.find(face);
    if (found != _fontPaths.end()) {
        Utility::GetLogger().dlog("") << "Loading user font: " << face << std::endl;
        return found->second;
    }
    if (!p_face.empty())
        Utility::GetLogger().derr("") << "Font " << face << " not found, looking for default fonts." << std::endl;

    for (const qorfile::pathcomp& fallback : FALLBACKFONTFACES) {
        auto it = _fontPaths.find(fallback.str());
        if (it == _fontPaths.end())
            continue;
        if (std::string(DEFAULTFONTFACE) != it->first) {
            Utility::GetLogger().derr("") << Messages::DefaultFaceWarning << std::endl;
            Utility::GetLogger().derr("") << "Cannot find default font face, loading: " << it->first << std::endl;
        }
        Utility::GetLogger().dlog("") << "Loading default font: " << it->first << std::endl;
        return it->second;
    }

    if (_fontPaths.empty())
        return qorfile::filepath();
    auto first = _fontPaths.begin();
    Utility::GetLogger().dlog("cerr") << "WARNING: Loading FALLBACK font: " << first->first << std::endl;
    return first->second;
}

qorfile::filepath Resource::FontFile() const
{
    return FontFile(std::string());
}

std::vector<qorfile::filepath> Resource::DefaultFontSet() const
{
    std::vector<qorfile::filepath> fonts;
    fonts.push_back(FontFile());
    for (const qorfile::pathcomp& face : DEFAULTFONTSETFACES)
        fonts.push_back(FontFile(face.str()));
    return fonts;
}

std::vector<qorfile::filepath> Resource::FontSet(const std::string& p_face) const
{
    if (p_face.empty())
        return DefaultFontSet();
    std::vector<qorfile::filepath> fonts;
    fonts.push_back(FontFile(p_face));
    std::vector<qorfile::filepath> defaults = DefaultFontSet();
    fonts.insert(fonts.end(), defaults.begin(), defaults.end());
    return fonts;
}

// ---------------------------------------------------------------------------------------
// Image lookup.

qorfile::filepath Resource::ImageFile(const std::string& p_name) const
{
    qorfile::filepath path = _imageDirectory + qorfile::pathcomp(p_name + ".png");
    Check(path.valid() && qorfile::fileexists(path), Messages::ImageFileMissing);
    return path;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
