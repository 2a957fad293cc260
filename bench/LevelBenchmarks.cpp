// Loading a level: a level's worth of small entries of many.zip (10 000 distinct ones in random
// order, a tenth in quick mode) read whole through a library, by one batch read, by Open one
// after the other (ours_open), and by libzip; and the same level from many-ordered.zip, packed
// in the order the level loads (level_load_ordered). Beside it, every entry of many.zip read
// once into the caller's memory (read_all), against PhysFS reading into one reused buffer.
#include "BenchSetup.h"
#include "Cases.h"
#include "Peers.h"

#include <Assets/ArchiveWriter.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <numeric>
#include <stdexcept>

namespace bench {

namespace {

constexpr unsigned LevelEntries = 10000;
constexpr std::size_t Capacity = 4096;

struct Level {
    std::vector<std::string> names; // the level, in the order it loads
    std::vector<AssetPath> paths;
    std::size_t bytes = 0;
    std::vector<std::string> all; // every entry of many.zip, by index
    std::vector<AssetPath> allPaths;
    std::size_t allBytes = 0;
};

Level g_level;

// many-ordered.zip: the level's entries first, in the order it loads them (as pack --order
// lays them out), then the rest as many.zip stores them. Written beside the corpus on first use.
void WriteOrdered(const std::vector<unsigned>& p_level)
{
    const std::string path = Path("many-ordered.zip");
    struct stat status;
    if (::stat(path.c_str(), &status) == 0)
        return;
    const std::string temporary = path + ".tmp";
    std::ofstream out(temporary, std::ios_base::binary | std::ios_base::trunc);
    Qor::Draxel::Assets::ArchiveWriter writer(out);
    std::vector<bool> written(g_setup.layout.entries, false);
    for (unsigned index : p_level) {
        writer.AddBytes(corpus::EntryName(g_setup.layout, index), corpus::EntryBytes(index));
        written[index] = true;
    }
    for (unsigned index : corpus::StoredOrder(g_setup.layout))
        if (!written[index])
            writer.AddBytes(corpus::EntryName(g_setup.layout, index), corpus::EntryBytes(index));
    writer.Finish();
    if (!out.flush() || std::rename(temporary.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot write " + path);
}

boost::shared_ptr<AssetLibrary> MountAtRoot(const char* p_archive)
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    library->MountArchive(qorfile::filepath(Path(p_archive)), AssetPath(), 0, std::string());
    return library;
}

// Runs p_load, which reads every asset of the level into p_buffer and gives the bytes read.
template <class Load>
void LoadLevel(benchmark::State& p_state, std::size_t p_expected, std::size_t p_count, Load p_load)
{
    std::vector<char> buffer(Capacity);
    std::size_t bytes = 0;
    for (auto _ : p_state) {
        bytes = p_load(buffer.data());
        benchmark::DoNotOptimize(bytes);
    }
    if (bytes != p_expected)
        p_state.SkipWithError("wrong byte count");
    p_state.SetItemsProcessed(static_cast<std::int64_t>(p_state.iterations() * p_count));
}

void LevelBatch(benchmark::State& state, const char* p_archive)
{
    boost::shared_ptr<AssetLibrary> library = MountAtRoot(p_archive);
    LoadLevel(state, g_level.bytes, g_level.paths.size(), [&](char* p_buffer) {
        std::size_t bytes = 0;
        for (const boost::shared_ptr<std::istream>& stream : library->OpenBatch(g_level.paths, Volume::Binary))
            bytes += Drain(stream.get(), p_buffer, Capacity);
        return bytes;
    });
}

void LevelOpen(benchmark::State& state, const char* p_archive)
{
    boost::shared_ptr<AssetLibrary> library = MountAtRoot(p_archive);
    LoadLevel(state, g_level.bytes, g_level.paths.size(), [&](char* p_buffer) {
        std::size_t bytes = 0;
        for (const AssetPath& path : g_level.paths)
            bytes += Drain(library->Open(path, Volume::Binary).get(), p_buffer, Capacity);
        return bytes;
    });
}

void LevelLibzip(benchmark::State& state, const char* p_archive)
{
    zip_t* archive = OpenZip(Path(p_archive));
    LoadLevel(state, g_level.bytes, g_level.names.size(), [&](char* p_buffer) {
        std::size_t bytes = 0;
        for (const std::string& name : g_level.names)
            bytes += DrainZip(archive, name.c_str(), p_buffer, Capacity);
        return bytes;
    });
    zip_discard(archive);
}

void ReadAllOurs(benchmark::State& state)
{
    boost::shared_ptr<AssetLibrary> library = MountAtRoot("many.zip");
    LoadLevel(state, g_level.allBytes, g_level.allPaths.size(), [&](char* p_buffer) {
        std::size_t bytes = 0;
        for (const AssetPath& path : g_level.allPaths)
            bytes += static_cast<std::size_t>(library->Read(path, Volume::Binary, p_buffer, Capacity).value_or(0));
        return bytes;
    });
}

void ReadAllPhysfs(benchmark::State& state)
{
    const std::string path = Path("many.zip");
    MountPhysfs(path, nullptr);
    LoadLevel(state, g_level.allBytes, g_level.all.size(), [&](char* p_buffer) {
        std::size_t bytes = 0;
        for (const std::string& name : g_level.all)
            bytes += DrainPhysfs(name.c_str(), p_buffer, Capacity);
        return bytes;
    });
    PHYSFS_unmount(path.c_str());
}

} // namespace

void RegisterLevelCases()
{
    const corpus::Layout& layout = g_setup.layout;
    // Distinct entries in random order: the first of a shuffle of all of them.
    std::vector<unsigned> order(layout.entries);
    std::iota(order.begin(), order.end(), 0u);
    for (std::size_t i = order.size(); i > 1; --i)
        std::swap(order[i - 1], order[corpus::Mix(i + 11) % i]);
    order.resize(std::min<std::size_t>(order.size(), LevelEntries / g_setup.divisor));
    for (unsigned index : order) {
        g_level.names.push_back(corpus::EntryName(layout, index));
        g_level.bytes += corpus::EntrySize(index);
    }
    g_level.paths = ToAssetPaths(g_level.names);
    for (unsigned index = 0; index < layout.entries; ++index) {
        g_level.all.push_back(corpus::EntryName(layout, index));
        g_level.allBytes += corpus::EntrySize(index);
    }
    g_level.allPaths = ToAssetPaths(g_level.all);
    WriteOrdered(order);

    using benchmark::RegisterBenchmark;
    Warm(RegisterBenchmark("level_load/ours", LevelBatch, "many.zip"));
    Warm(RegisterBenchmark("level_load/ours_open", LevelOpen, "many.zip"));
    Warm(RegisterBenchmark("level_load/libzip", LevelLibzip, "many.zip"));
    Warm(RegisterBenchmark("level_load_ordered/ours", LevelBatch, "many-ordered.zip"));
    Warm(RegisterBenchmark("level_load_ordered/ours_open", LevelOpen, "many-ordered.zip"));
    Warm(RegisterBenchmark("level_load_ordered/libzip", LevelLibzip, "many-ordered.zip"));
    Warm(RegisterBenchmark("read_all/ours", ReadAllOurs));
    Warm(RegisterBenchmark("read_all/physfs", ReadAllPhysfs));
}

std::vector<Row> LevelRows()
{
    return {
        {"level_load", "libzip", {"level_load/ours"}, {"level_load/libzip"}, 0.6},
        {"level_load", "ours_open", {"level_load/ours"}, {"level_load/ours_open"}, 0.6},
        {"level_load_ordered", "libzip", {"level_load_ordered/ours"}, {"level_load_ordered/libzip"}, 0},
        {"level_load_ordered", "ours_open", {"level_load_ordered/ours"}, {"level_load_ordered/ours_open"}, 0},
        {"read_all", "physfs", {"read_all/ours"}, {"read_all/physfs"}, 0.9},
    };
}

} // namespace bench
