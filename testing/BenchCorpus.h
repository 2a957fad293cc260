// The benchmark corpus: its layout (names, sizes, bytes) and how it is written to disk.
//
// Everything is derived from fixed seeds, so the writer, the benchmarks and the tests agree on
// every name and byte without a manifest. A divisor of 1 gives the full corpus, 10 the quick
// one. A ZIP without ZIP64 records counts at most 65 535 entries (the end record's count is
// 16 bits wide, and ZIP64 is outside what the archive volume reads), so the full archive of
// small entries holds exactly that many.
#pragma once

#include <Assets/ArchiveWriter.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

namespace corpus {

struct Layout {
    unsigned entries;     // entries of many.zip
    unsigned directories; // directories they are spread over
    unsigned treeFiles;   // files of the directory tree
    unsigned treeDirectories;
    std::uint64_t bigSize; // bytes of big.zip's one entry
    unsigned mounts;       // names under which many.zip is mounted in the 16-volume library
};

inline Layout MakeLayout(unsigned p_divisor)
{
    if (p_divisor == 0)
        p_divisor = 1;
    Layout layout;
    layout.entries = 65535u / p_divisor;
    layout.directories = std::max(1u, 2048u / p_divisor);
    layout.treeFiles = 20000u / p_divisor;
    layout.treeDirectories = std::max(1u, 400u / p_divisor);
    layout.bigSize = (std::uint64_t(256) << 20) / p_divisor;
    layout.mounts = 16;
    return layout;
}

// splitmix64: small, fast and good enough to spread sizes and bytes.
inline std::uint64_t Mix(std::uint64_t p_value)
{
    p_value += 0x9e3779b97f4a7c15ull;
    p_value = (p_value ^ (p_value >> 30)) * 0xbf58476d1ce4e5b9ull;
    p_value = (p_value ^ (p_value >> 27)) * 0x94d049bb133111ebull;
    return p_value ^ (p_value >> 31);
}

inline std::string Format(const char* p_pattern, unsigned p_a, unsigned p_b)
{
    char text[64];
    std::snprintf(text, sizeof text, p_pattern, p_a, p_b);
    return text;
}

// Entry i of many.zip lies in directory i mod directories.
inline std::string EntryName(const Layout& p_layout, unsigned p_index)
{
    return Format("assets/d%04u/e%06u.bin", p_index % p_layout.directories, p_index);
}

// A name that is in no archive: same directories, a name no entry has.
inline std::string MissingName(const Layout& p_layout, unsigned p_index)
{
    if (p_index % 4 == 3)
        return Format("assets/x%04u/e%06u.bin", p_index % p_layout.directories, p_index);
    return Format("assets/d%04u/e%06u.bim", p_index % p_layout.directories, p_index);
}

inline std::size_t EntrySize(unsigned p_index, std::uint64_t p_seed = 1)
{
    return 64 + static_cast<std::size_t>(Mix(p_seed * 1000003u + p_index) % (4096 - 64 + 1));
}

inline std::string EntryBytes(unsigned p_index, std::uint64_t p_seed = 1)
{
    std::string bytes(EntrySize(p_index, p_seed), '\0');
    std::uint64_t state = Mix(p_seed ^ (std::uint64_t(p_index) << 20));
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        state = Mix(state);
        for (std::size_t j = 0; j < 8 && i + j < bytes.size(); ++j)
            bytes[i + j] = static_cast<char>(state >> (8 * j));
    }
    return bytes;
}

inline std::string TreeName(const Layout& p_layout, unsigned p_index)
{
    return Format("t%03u/f%05u.bin", p_index % p_layout.treeDirectories, p_index);
}

inline std::string ScrambleKey()
{
    std::string key(Qor::Draxel::Assets::ArchiveWriter::KeyTrailerLength, '\0');
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<char>(Mix(777 + i));
    return key;
}

// The order in which the entries are stored: shuffled, as an archiver that walks a directory
// in the file system's hash order would store them. Readers may not rely on sorted names.
inline std::vector<unsigned> StoredOrder(const Layout& p_layout)
{
    std::vector<unsigned> order(p_layout.entries);
    std::iota(order.begin(), order.end(), 0u);
    for (std::size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[Mix(i) % i]);
    return order;
}

inline void WriteMany(const std::string& p_path, const Layout& p_layout, const std::string& p_key, bool p_trailer)
{
    std::ofstream out(p_path, std::ios_base::binary | std::ios_base::trunc);
    Qor::Draxel::Assets::ArchiveWriter writer(out, p_key);
    for (unsigned index : StoredOrder(p_layout))
        writer.AddBytes(EntryName(p_layout, index), EntryBytes(index));
    writer.Finish(p_trailer);
    if (!out.flush())
        throw std::runtime_error("cannot write " + p_path);
}

inline void WriteBig(const std::string& p_path, const Layout& p_layout)
{
    std::string bytes(p_layout.bigSize, '\0');
    std::uint64_t state = 99;
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        state = Mix(state);
        std::copy(reinterpret_cast<const char*>(&state), reinterpret_cast<const char*>(&state) + 8, &bytes[i]);
    }
    std::ofstream out(p_path, std::ios_base::binary | std::ios_base::trunc);
    Qor::Draxel::Assets::ArchiveWriter writer(out);
    writer.AddBytes("big.bin", bytes);
    writer.Finish();
    if (!out.flush())
        throw std::runtime_error("cannot write " + p_path);
}

inline void MakeDirectories(const std::string& p_path)
{
    for (std::size_t slash = p_path.find('/', 1);; slash = p_path.find('/', slash + 1)) {
        ::mkdir(p_path.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos)
            break;
    }
}

inline void WriteTree(const std::string& p_root, const Layout& p_layout)
{
    for (unsigned index = 0; index < p_layout.treeFiles; ++index) {
        const std::string path = p_root + "/" + TreeName(p_layout, index);
        MakeDirectories(path.substr(0, path.rfind('/')));
        std::ofstream out(path, std::ios_base::binary | std::ios_base::trunc);
        const std::string bytes = EntryBytes(index, 2);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            throw std::runtime_error("cannot write " + path);
    }
}

inline std::string MountName(unsigned p_index)
{
    return Format("many-%02u.zip", p_index, 0);
}

// many.zip, many.pak (the same entries scrambled, carrying its key), big.zip, tree/ and the
// links many-NN.zip to many.zip that the 16-volume library mounts as distinct sources.
inline void WriteAll(const std::string& p_dir, const Layout& p_layout)
{
    MakeDirectories(p_dir);
    WriteMany(p_dir + "/many.zip", p_layout, std::string(), false);
    WriteMany(p_dir + "/many.pak", p_layout, ScrambleKey(), true);
    WriteBig(p_dir + "/big.zip", p_layout);
    WriteTree(p_dir + "/tree", p_layout);
    for (unsigned index = 0; index < p_layout.mounts; ++index) {
        const std::string link = p_dir + "/" + MountName(index);
        ::unlink(link.c_str());
        if (::symlink("many.zip", link.c_str()) != 0)
            throw std::runtime_error("cannot link " + link);
    }
}

} // namespace corpus
