// Random content for the tests that hold one way of answering against another on random
// libraries: paths over a small alphabet (so that volumes overlap, shadow and nest), entry names
// that archives and a directory of overrides share, bytes drawn from a few values (line ends
// among them), keys, and the library of layers those tests mount.
#pragma once

#include "TestSupport.h"

#include <Assets/AssetLibrary.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// p_minDepth to p_maxDepth components, each "a", "b" or "c.txt".
inline std::string RandomPath(std::mt19937& p_random, int p_minDepth, int p_maxDepth)
{
    static const char* const names[] = {"a", "b", "c.txt"};
    const int depth = std::uniform_int_distribution<int>(p_minDepth, p_maxDepth)(p_random);
    std::string path;
    for (int i = 0; i < depth; ++i)
        path += (i ? "/" : "") + std::string(names[p_random() % 3]);
    return path;
}

// p_size bytes, each drawn from p_alphabet.
inline std::string RandomBytes(std::mt19937& p_random, std::size_t p_size, const std::string& p_alphabet)
{
    std::string bytes(p_size, '\0');
    for (char& byte : bytes)
        byte = p_alphabet[p_random() % p_alphabet.size()];
    return bytes;
}

// "dN/fM", N below 3 and M below p_files.
inline std::string RandomName(std::mt19937& p_random, unsigned p_files)
{
    const unsigned directory = p_random() % 3;
    return "d" + std::to_string(directory) + "/f" + std::to_string(p_random() % p_files);
}

// 1 to 40 bytes of any value.
inline std::string RandomKey(std::mt19937& p_random)
{
    std::string key(1 + p_random() % 40, '\0');
    for (char& byte : key)
        byte = static_cast<char>(p_random());
    return key;
}

// A library of four layers written into p_dir: plain.zip at the root (priority 0), given.pak
// read with p_key (1), p_below's archive mounted at "sub" without a key (2), and the files of
// p_overrides (name, bytes) in the directory "overrides" at the root (3).
inline boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary>
MountLayers(const ScratchDir& p_dir, const std::string& p_plain, const std::string& p_given, const std::string& p_key,
            const std::pair<std::string, std::string>& p_below,
            const std::vector<std::pair<std::string, std::string>>& p_overrides)
{
    using Qor::Draxel::Assets::AssetPath;
    auto library = Qor::Draxel::Assets::AssetLibrary::Create();
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
