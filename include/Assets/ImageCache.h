// ImageCache: decoded images by file path, each path decoded once.
//
// Entries are only added; a reference returned by Image stays valid for the cache's life.
// A file that Qt cannot decode is cached as a null image. The key is the path as given:
// two spellings of one file are two entries. Not synchronised: one thread at a time.
#pragma once

#include <Assets/Export.h>
#include <Assets/Resource.h>

#include <QorDraxelUtility.h>
#include <QorFile.h>

#include <QImage>

#include <map>

namespace Qor {
namespace Draxel {
namespace Assets {

class ASSETS_API ImageCache {
public:
    // Thrown by Image for a path that is not valid or names no file.
    struct ASSETS_API NoImageFoundException : public Utility::Exception {
        explicit NoImageFoundException(const qorfile::filepath& path);
        NoImageFoundException(const NoImageFoundException& p_other);
        ~NoImageFoundException() override;
    };

    explicit ImageCache(const Resource& p_resource);
    ImageCache(const ImageCache& p_other);
    ~ImageCache();

    // The cached image of path, decoded on the first request.
    const QImage& Image(const qorfile::filepath& path);

private:
    ImageCache& operator=(const ImageCache&) = delete;

    std::map<qorfile::filepath, QImage> _images;
    const Resource& _resource;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
