// The resource directories: construction, the built-in archive list, the font catalogue and
// image file lookup.
#include <Assets/Resource.h>

#include "Check.h"
#include "Messages.h"

#include <boost/filesystem.hpp>

#include <QFileInfo>
#include <QString>

#include <cstddef>

namespace Qor {
namespace Draxel {
namespace Assets {

const char* DEFAULTFONTFACE = "dejavusans";

namespace {

// ---------------------------------------------------------------------------------------
// The built-in archive list. Name and key are kept XOR-scrambled with a repeating 4-byte
// mask so that neither stands in the binary as plain text; each call unscrambles afresh.

struct BuiltInArchive {
    std::string name;
    std::string key;
};

const unsigned char BuiltInMask[4] = {0x5a, 0xc3, 0x17, 0x8e};

const unsigned char StoredArchiveName[11] = {0x3e, 0xb1, 0x76, 0xf6, 0x3f, 0xaf, 0x39, 0xfe, 0x3b, 0xa0, 0x7c};

const unsigned char StoredArchiveKey[32] = {0x0b, 0xac, 0x65, 0xa3, 0x1e, 0xb1, 0x76, 0xf6, 0x3f, 0xaf, 0x3a,
                                            0xcf, 0x29, 0xb0, 0x72, 0xfa, 0x29, 0xee, 0x55, 0xfb, 0x33, 0xaf,
                                            0x63, 0xe7, 0x34, 0xee, 0x5c, 0xeb, 0x23, 0xee, 0x27, 0xbf};

template <std::size_t Length>
std::string Unmask(const unsigned char (&p_stored)[Length])
{
    std::string text(reinterpret_cast<const char*>(p_stored), Length);
    for (std::size_t i = 0; i < Length; ++i)
        text[i] = static_cast<char>(text[i] ^ BuiltInMask[i % 4]);
    return text;
}

std::vector<BuiltInArchive> BuiltInArchives()
{
    return {BuiltInArchive{Unmask(StoredArchiveName), Unmask(StoredArchiveKey)}};
}

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
    qordebug::logger& logger = Utility::GetLogger();
    logger.dlog("") << "root directory  : " << p_root.str() << std::endl;
    logger.dlog("") << "image directory : " << p_image.str() << std::endl;
    logger.dlog("") << "font directory  : " << p_font.str() << std::endl;
    logger.dlog("") << "assets directory  : " << p_assets.str() << std::endl;
    logger.dlog("") << "temporary directory : " << p_temporary.str() << std::endl;

    Check(p_root.valid() && p_image.valid() && p_font.valid(), Messages::ResourceInvalidPaths);
    Check(qorfile::direxists(p_root), Messages::ResourceNoRoot);
    Check(qorfile::direxists(p_image), Messages::ResourceNoImage);
    Check(qorfile::direxists(p_font), Messages::ResourceNoFont);

    if (!qorfile::direxists(p_temporary))
        boost::filesystem::create_directory(boost::filesystem::path(p_temporary.str()));

    CacheFontsInDir(p_font);
    const qorfile::filepath systemFonts(SystemFontDirectory);
    logger.dlog("") << "system font : " << systemFonts.str() << std::endl;
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

std::string Resource::BuiltInArchiveName()
{
    return BuiltInArchives().front().name;
}

std::string Resource::BuiltInArchiveKey()
{
    return BuiltInArchives().front().key;
}

// ---------------------------------------------------------------------------------------
// Font catalogue.

void Resource::CacheFontsInDir(const qorfile::filepath& p_directory)
{
    qordebug::logger& logger = Utility::GetLogger();
    logger.dlog("") << "searching: " << p_directory.str() << std::endl;
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
        logger.dlog("") << "\t\t+font : " << face << std::endl;
    }
}

qorfile::filepath Resource::FontFile(const std::string& p_face) const
{
    qordebug::logger& logger = Utility::GetLogger();
    const std::string face = Lower(p_face);
    auto found = _fontPaths.find(face);
    if (found != _fontPaths.end()) {
        logger.dlog("") << "Loading user font: " << face << std::endl;
        return found->second;
    }
    if (!p_face.empty())
        logger.derr("") << "Font " << face << " not found, looking for default fonts." << std::endl;

    for (const qorfile::pathcomp& fallback : FALLBACKFONTFACES) {
        auto it = _fontPaths.find(fallback.str());
        if (it == _fontPaths.end())
            continue;
        if (std::string(DEFAULTFONTFACE) != it->first) {
            logger.derr("") << Messages::DefaultFaceWarning << std::endl;
            logger.derr("") << "Cannot find default font face, loading: " << it->first << std::endl;
        }
        logger.dlog("") << "Loading default font: " << it->first << std::endl;
        return it->second;
    }

    if (_fontPaths.empty())
        return qorfile::filepath();
    auto first = _fontPaths.begin();
    logger.dlog("cerr") << "WARNING: Loading FALLBACK font: " << first->first << std::endl;
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
    const qorfile::filepath path = _imageDirectory + qorfile::pathcomp(p_name + ".png");
    Check(path.valid() && qorfile::fileexists(path), Messages::ImageFileMissing);
    return path;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
