// game: mounts an archive its build packed and copies one asset to standard output.
#include <Assets/AssetLibrary.h>
#include <Assets/AssetPath.h>

#include <QorFile.h>

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    using namespace Qor::Draxel::Assets;
    if (argc != 3) {
        std::cerr << "usage: game ARCHIVE ASSET\n";
        return 2;
    }
    try {
        boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
        // An empty key: a name that ends in zip is plain, any other carries its key in its last 32 bytes.
        library->MountArchive(qorfile::filepath(argv[1]), AssetPath(), 0, std::string());
        const AssetPath asset{std::string(argv[2])};
        boost::shared_ptr<std::istream> stream = library->Open(asset, Volume::Binary);
        if (!stream) {
            std::cerr << "game: " << argv[2] << ": no such asset\n";
            return 1;
        }
        std::cout << stream->rdbuf();
    } catch (const std::exception& error) {
        std::cerr << "game: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
