// The image cache: one Qt decode per path.
#include <Assets/ImageCache.h>

#include <QString>

namespace Qor {
namespace Draxel {
namespace Assets {

ImageCache::NoImageFoundException::NoImageFoundException(const qorfile::filepath& path)
    : Utility::Exception("No image found :" + path.str())
{
}

ImageCache::NoImageFoundException::NoImageFoundException(const NoImageFoundException& p_other) = default;
ImageCache::NoImageFoundException::~NoImageFoundException() = default;

ImageCache::ImageCache(const Resource& p_resource) : _resource(p_resource) {}
ImageCache::ImageCache(const ImageCache& p_other) : _images(p_other._images), _resource(p_other._resource) {}
ImageCache::~ImageCache() = default;

const QImage& ImageCache::Image(const qorfile::filepath& path)
{
    auto cached = _images.find(path);
    if (cached != _images.end())
        return cached->second;
    if (!path.valid() || !qorfile::fileexists(path))
        throw NoImageFoundException(path);
    QImage image(QString::fromStdString(path.str()), nullptr);
    return _images.emplace(path, std::move(image)).first->second;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
