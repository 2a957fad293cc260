// draxel-assets: mounts a directory and prints one asset from it.
#include <Assets/AssetLibrary.h>

#include <QorDraxelUtility.h>

#include <iostream>

using namespace Qor::Draxel::Assets;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: draxel-assets DIRECTORY ASSET\n";
        return 2;
    }
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    try {
        library->MountDirectory(qorfile::filepath(argv[1]), AssetPath(), 0);
    } catch (const std::exception& error) {
        std::cerr << "draxel-assets: " << argv[1] << ": not a directory\n";
        return 1;
    }
    boost::shared_ptr<std::istream> stream = library->Open(AssetPath(std::string(argv[2])), Volume::Binary);
    if (!stream) {
        std::cerr << "draxel-assets: " << argv[2] << ": no such asset\n";
        return 1;
    }
    std::cout << stream->rdbuf();
    return 0;
}
