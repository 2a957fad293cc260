// consumer: a program outside the library's build that uses it as an installed package would
// be used: it mounts a directory and copies one asset to standard output. It needs the asset
// tree only, so it builds where Qt is not installed.
#include <Assets/AssetLibrary.h>
#include <Assets/AssetPath.h>

#include <QorDraxelUtility.h>
#include <QorFile.h>

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    using namespace Qor::Draxel::Assets;
    if (argc != 3) {
        std::cerr << "usage: consumer DIRECTORY ASSET\n";
        return 2;
    }
    try {
        boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
        library->MountDirectory(qorfile::filepath(argv[1]), AssetPath(), 0);
        const AssetPath asset{std::string(argv[2])};
        boost::shared_ptr<std::istream> stream = library->Open(asset, Volume::Binary);
        if (!library->Exists(asset) || !stream) {
            std::cerr << "consumer: " << argv[2] << ": no such asset\n";
            return 1;
        }
        std::cout << stream->rdbuf();
    } catch (const std::exception& error) {
        // A failed precondition of the library reaches here through the default ensure handler.
        std::cerr << "consumer: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
