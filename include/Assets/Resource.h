// Resource: the application's resource directories, their asset library, the font catalogue
// and image lookup.
//
// The constructor logs the five directories, checks root, image and font, creates the
// temporary directory (one level; boost::filesystem::filesystem_error when that fails),
// catalogues the fonts, and fills an asset library of its own: the built-in archive from the
// assets directory (priority 0), the directory Shaders/Tests beside the image directory
// (priority 1) and, when the environment flag AssetsMountResourceRoot is on, the image
// directory's parent at the root (priority 2). Shaders() views that library below "Shaders".
//
// A Resource never changes after construction. Copies share one library and one shader view;
// each copy has its own copy of the font catalogue.
#pragma once

#include <Assets/AssetLibrary.h>
#include <Assets/Export.h>
#include <Assets/Volume.h>

#include <QorFile.h>

#include <map>
#include <string>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

// The default font face name.
ASSETS_API extern const char* DEFAULTFONTFACE;

class ASSETS_API Resource {
public:
    Resource(const qorfile::filepath& p_root, const qorfile::filepath& p_image, const qorfile::filepath& p_font,
             const qorfile::filepath& p_assets, const qorfile::filepath& p_temporary);
    Resource(const Resource& p_other);
    ~Resource();

    // The font file of a face name, in any letter case; falls back to the default faces and
    // then to the first catalogued face, logging each step. Empty face: the default font.
    qorfile::filepath FontFile(const std::string& p_face) const;
    qorfile::filepath FontFile() const;
    // The default font, then one font per face of the default font set.
    std::vector<qorfile::filepath> DefaultFontSet() const;
    // The font of p_face followed by the default font set; the default set for an empty face.
    std::vector<qorfile::filepath> FontSet(const std::string& p_face) const;

    // The image directory joined with p_name + ".png"; reports a file that does not exist.
    qorfile::filepath ImageFile(const std::string& p_name) const;

    const qorfile::filepath& RootDirectory() const { return _rootDirectory; }
    const qorfile::filepath& TemporaryDirectory() const { return _temporaryDirectory; }
    const qorfile::filepath& FontDirectory() const { return _fontDirectory; }
    const qorfile::filepath& ImageDirectory() const { return _imageDirectory; }
    const boost::shared_ptr<AssetLibrary>& Library() const { return _library; }
    // The whole tree, as a plain volume (the same object as Library()).
    const boost::shared_ptr<Volume>& Assets() const { return _assets; }
    // The tree below "Shaders".
    const boost::shared_ptr<Volume>& Shaders() const { return _shaders; }
    // Face name (lower case) to font file.
    const std::map<std::string, qorfile::filepath>& FontPaths() const { return _fontPaths; }

private:
    Resource& operator=(const Resource&) = delete;

    ASSETS_LOCAL void CacheFontsInDir(const qorfile::filepath& p_directory);

    qorfile::filepath _rootDirectory;
    qorfile::filepath _temporaryDirectory;
    qorfile::filepath _fontDirectory;
    qorfile::filepath _imageDirectory;
    boost::shared_ptr<AssetLibrary> _library;
    boost::shared_ptr<Volume> _assets;
    boost::shared_ptr<Volume> _shaders;
    std::map<std::string, qorfile::filepath> _fontPaths;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
