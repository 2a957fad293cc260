// resources-consumer: a program that uses Resource and ImageCache (and so Qt) from the installed
// package: it builds a Resource over a resource tree (the demo's, as installed with the program)
// and decodes the logo through the image cache.
#include <Assets/ImageCache.h>
#include <Assets/Resource.h>

#include <QorFile.h>

#include <QImage>

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    using namespace Qor::Draxel::Assets;
    if (argc != 3) {
        std::cerr << "usage: resources-consumer ROOT TEMPORARY\n";
        return 2;
    }
    try {
        const std::string root = argv[1];
        const Resource resource(qorfile::filepath(root), qorfile::filepath(root + "/images"),
                                qorfile::filepath(root + "/fonts"), qorfile::filepath(root + "/assets"),
                                qorfile::filepath(argv[2]));
        ImageCache cache(resource);
        const QImage& logo = cache.Image(resource.ImageFile("logo"));
        std::cout << "logo: " << logo.width() << " x " << logo.height() << '\n';
    } catch (const ImageCache::NoImageFoundException& error) {
        std::cerr << "resources-consumer: no image: " << error.what() << '\n';
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "resources-consumer: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
