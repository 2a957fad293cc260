// Reads: small entries of many.zip (plain and scrambled, through one volume and through the
// 16-volume library), files of the directory tree, and the one big entry of big.zip, beside
// libzip, PhysFS and the machine's raw limits (open+pread+close, read(2), memcpy).
#include "BenchSetup.h"
#include "Cases.h"
#include "Peers.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/FileSystemVolume.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

namespace bench {

namespace {

using Qor::Draxel::Assets::ArchiveVolume;
using Qor::Draxel::Assets::FileSystemVolume;

constexpr unsigned SmallReads = 20000;
constexpr std::size_t SmallCapacity = 4096;

struct Names {
    std::vector<std::string> reads;     // the small entries read, random order
    std::vector<std::string> treeReads; // the files of the tree read, random order
};

Names g_names;

// A buffer whose pages are touched once, so that no copy into it pays for page faults.
std::vector<char>& BigBuffer(int p_which)
{
    static std::vector<char> buffers[2];
    std::vector<char>& buffer = buffers[p_which];
    if (buffer.size() != g_setup.layout.bigSize)
        buffer.assign(g_setup.layout.bigSize, '\1');
    return buffer;
}

// ---------------------------------------------------------------------------------------
// small reads: open and read whole each of the chosen entries

template <class Read>
void ReadAll(benchmark::State& p_state, const std::vector<std::string>& p_names, std::size_t p_seed, Read p_read)
{
    std::vector<char> buffer(SmallCapacity + 1);
    std::size_t expected = 0;
    for (const std::string& name : p_names)
        expected += corpus::EntrySize(IndexOf(name), p_seed);
    std::size_t bytes = 0;
    for (auto _ : p_state) {
        bytes = 0;
        for (std::size_t i = 0; i < p_names.size(); ++i)
            bytes += p_read(i, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(bytes);
    }
    if (bytes != expected)
        p_state.SkipWithError("wrong byte count");
    p_state.SetItemsProcessed(static_cast<std::int64_t>(p_state.iterations() * p_names.size()));
    p_state.SetBytesProcessed(static_cast<std::int64_t>(p_state.iterations() * bytes));
}

void SmallReadOurs(benchmark::State& state, const char* p_archive)
{
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(Path(p_archive)), std::string());
    const std::vector<AssetPath> paths = ToAssetPaths(g_names.reads);
    ReadAll(state, g_names.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        return Drain(volume->Open(paths[i], Volume::Binary).get(), p_buffer, p_capacity);
    });
}

void SmallReadOursLibrary(benchmark::State& state)
{
    boost::shared_ptr<AssetLibrary> library = MakeLibrary16();
    std::vector<AssetPath> paths;
    for (std::size_t i = 0; i < g_names.reads.size(); ++i)
        paths.emplace_back(MountPoint(static_cast<unsigned>(i % g_setup.layout.mounts)) + "/" + g_names.reads[i]);
    ReadAll(state, g_names.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        return Drain(library->Open(paths[i], Volume::Binary).get(), p_buffer, p_capacity);
    });
}

void SmallReadLibzip(benchmark::State& state)
{
    zip_t* archive = OpenZip(Path("many.zip"));
    ReadAll(state, g_names.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        return DrainZip(archive, g_names.reads[i].c_str(), p_buffer, p_capacity);
    });
    zip_discard(archive);
}

void SmallReadPhysfs(benchmark::State& state)
{
    const std::string path = Path("many.zip");
    MountPhysfs(path, nullptr);
    ReadAll(state, g_names.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        return DrainPhysfs(g_names.reads[i].c_str(), p_buffer, p_capacity);
    });
    PHYSFS_unmount(path.c_str());
}

// The floor of an Open that opens the archive afresh: open(2), one pread(2) of the local
// header and the data, close(2), at the places the entries lie.
void SmallReadRaw(benchmark::State& state)
{
    const std::string path = Path("many.zip");
    std::vector<off_t> offsets;
    for (const std::string& name : g_names.reads) {
        // The data offset is not in libzip's public statistics; the local header of an entry
        // of our writer lies at the end of the entries before it, so the sum of their sizes
        // and headers is not needed: any place of the file shows the cost.
        offsets.push_back(static_cast<off_t>(corpus::Mix(name.size() + offsets.size()) % (1u << 20)));
    }
    ReadAll(state, g_names.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t) {
        const std::size_t size = corpus::EntrySize(IndexOf(g_names.reads[i]));
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t count = ::pread(file, p_buffer, size, offsets[i]);
        ::close(file);
        return count > 0 ? static_cast<std::size_t>(count) : 0;
    });
}

// ---------------------------------------------------------------------------------------
// the directory volume against plain file streams

void DirectoryReadOurs(benchmark::State& state)
{
    boost::shared_ptr<Volume> volume = FileSystemVolume::Open(qorfile::filepath(Path("tree")));
    const std::vector<AssetPath> paths = ToAssetPaths(g_names.treeReads);
    ReadAll(state, g_names.treeReads, 2, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        return Drain(volume->Open(paths[i], Volume::Binary).get(), p_buffer, p_capacity);
    });
}

void DirectoryReadIfstream(benchmark::State& state)
{
    std::vector<std::string> paths;
    for (const std::string& name : g_names.treeReads)
        paths.push_back(Path("tree/" + name));
    ReadAll(state, g_names.treeReads, 2, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        std::ifstream stream(paths[i], std::ios_base::binary);
        return Drain(&stream, p_buffer, p_capacity);
    });
}

// ---------------------------------------------------------------------------------------
// the big read, and the raw limits

template <class Read>
void ReadBig(benchmark::State& p_state, Read p_read)
{
    std::vector<char>& buffer = BigBuffer(0);
    std::size_t bytes = 0;
    for (auto _ : p_state) {
        bytes = p_read(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(buffer.data());
    }
    if (bytes != buffer.size())
        p_state.SkipWithError("short read");
    p_state.SetBytesProcessed(static_cast<std::int64_t>(p_state.iterations() * buffer.size()));
}

void BigReadOurs(benchmark::State& state)
{
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(Path("big.zip")), std::string());
    const AssetPath path("big.bin");
    ReadBig(state, [&](char* p_buffer, std::size_t p_capacity) {
        return Drain(volume->Open(path, Volume::Binary).get(), p_buffer, p_capacity);
    });
}

void BigReadLibzip(benchmark::State& state)
{
    zip_t* archive = OpenZip(Path("big.zip"));
    ReadBig(state,
            [&](char* p_buffer, std::size_t p_capacity) { return DrainZip(archive, "big.bin", p_buffer, p_capacity); });
    zip_discard(archive);
}

void BigReadPhysfs(benchmark::State& state)
{
    const std::string path = Path("big.zip");
    MountPhysfs(path, nullptr);
    ReadBig(state,
            [&](char* p_buffer, std::size_t p_capacity) { return DrainPhysfs("big.bin", p_buffer, p_capacity); });
    PHYSFS_unmount(path.c_str());
}

// read(2) of as many bytes from the page cache (the archive file is cached by the runs before).
void BigReadRaw(benchmark::State& state)
{
    const std::string path = Path("big.zip");
    ReadBig(state, [&](char* p_buffer, std::size_t p_capacity) {
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t done = 0;
        while (file >= 0 && done < p_capacity) {
            const ssize_t count = ::read(file, p_buffer + done, p_capacity - done);
            if (count <= 0)
                break;
            done += static_cast<std::size_t>(count);
        }
        if (file >= 0)
            ::close(file);
        return done;
    });
}

void BigMemcpy(benchmark::State& state)
{
    std::vector<char>& source = BigBuffer(1);
    ReadBig(state, [&](char* p_buffer, std::size_t p_capacity) {
        std::memcpy(p_buffer, source.data(), p_capacity);
        return p_capacity;
    });
}

} // namespace

void RegisterReadCases()
{
    const corpus::Layout& layout = g_setup.layout;
    for (unsigned i = 0; i < SmallReads / g_setup.divisor; ++i) {
        g_names.reads.push_back(corpus::EntryName(layout, static_cast<unsigned>(corpus::Mix(i + 2) % layout.entries)));
        g_names.treeReads.push_back(
            corpus::TreeName(layout, static_cast<unsigned>(corpus::Mix(i + 3) % layout.treeFiles)));
    }

    using benchmark::RegisterBenchmark;
    Warm(RegisterBenchmark("small_read/ours", SmallReadOurs, "many.zip"));
    Warm(RegisterBenchmark("small_read/ours_library16", SmallReadOursLibrary));
    Warm(RegisterBenchmark("small_read/libzip", SmallReadLibzip));
    Warm(RegisterBenchmark("small_read/physfs", SmallReadPhysfs));
    Warm(RegisterBenchmark("small_read/raw_open_pread_close", SmallReadRaw));
    Warm(RegisterBenchmark("scrambled_read/ours", SmallReadOurs, "many.pak"));
    Warm(RegisterBenchmark("directory_read/ours", DirectoryReadOurs));
    Warm(RegisterBenchmark("directory_read/ifstream", DirectoryReadIfstream));
    Warm(RegisterBenchmark("big_read/ours", BigReadOurs));
    Warm(RegisterBenchmark("big_read/libzip", BigReadLibzip));
    Warm(RegisterBenchmark("big_read/physfs", BigReadPhysfs));
    Warm(RegisterBenchmark("big_read/raw_read", BigReadRaw));
    Warm(RegisterBenchmark("big_read/raw_memcpy", BigMemcpy));
}

std::vector<Row> ReadRows()
{
    return {
        {"small_read", "libzip", {"small_read/ours"}, {"small_read/libzip"}, 0},
        {"small_read", "physfs", {"small_read/ours"}, {"small_read/physfs"}, 0},
        {"small_read", "raw", {"small_read/ours"}, {"small_read/raw_open_pread_close"}, 1.35},
        {"small_read_library16", "libzip", {"small_read/ours_library16"}, {"small_read/libzip"}, 0},
        {"big_read", "raw", {"big_read/ours"}, {"big_read/raw_read", "big_read/raw_memcpy"}, 1.5},
        {"big_read", "libzip", {"big_read/ours"}, {"big_read/libzip"}, 0},
        {"big_read", "physfs", {"big_read/ours"}, {"big_read/physfs"}, 0},
        {"scrambled_read", "plain", {"scrambled_read/ours"}, {"small_read/ours"}, 1.2},
        {"directory_read", "ifstream", {"directory_read/ours"}, {"directory_read/ifstream"}, 0},
    };
}

} // namespace bench
