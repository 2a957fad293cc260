// Random paths, names, bytes and keys, and the layered library (RandomLibrary.h).
#include "RandomLibrary.h"

namespace testing_support {

using Qor::Draxel::Assets::AssetLibrary;
using Qor::Draxel::Assets::AssetPath;

std::string RandomPath(std::mt19937& p_random, int p_minDepth, int p_maxDepth)
{
    static const char* const names[] = {"a", "b", "c.txt"};
    const int depth = std::uniform_int_distribution<int>(p_minDepth, p_maxDepth)(p_random);
    std::string path;
    for (int i = 0; i < depth; ++i)
        path += (i ? "/" : "") + std::string(names[p_random() % 3]);
    return path;
}

std::string RandomBytes(std::mt19937& p_random, std::size_t p_size, const std::string& p_alphabet)
{
    std::string bytes(p_size, '\0');
    for (char& byte : bytes)
        byte = p_alphabet[p_random() % p_alphabet.size()];
    return bytes;
}

std::string RandomName(std::mt19937& p_random, unsigned p_files)
{
    return "d" + std::to_string(p_random() % 3) + "/f" + std::to_string(p_random() % p_files);
}

std::string RandomKey(std::mt19937& p_random)
{
    std::string key(1 + p_random() % 40, '\0');
    for (char& byte : key)
        byte = static_cast<char>(p_random());
    return key;
}

boost::shared_ptr<AssetLibrary> MountLayers(const ScratchDir& p_dir, const std::string& p_plain,
                                            const std::string& p_given, const std::string& p_key,
                                            const std::pair<std::string, std::string>& p_below,
                                            const std::vector<std::pair<std::string, std::string>>& p_overrides)
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    library->MountArchive(qorfile::filepath(p_dir.Write("plain.zip", p_plain)), AssetPath(), 0, "");
    library->MountArchive(qorfile::filepath(p_dir.Write("given.pak", p_given)), AssetPath(), 1, p_key);
    library->MountArchive(qorfile::filepath(p_dir.Write(p_below.first, p_below.second)), AssetPath("sub"), 2, "");
    p_dir.MakeDir("overrides");
    for (const auto& file : p_overrides)
        p_dir.Write("overrides/" + file.first, file.second);
    library->MountDirectory(qorfile::filepath(p_dir / "overrides"), AssetPath(), 3);
    return library;
}

} // namespace testing_support
