// The cases of whole libraries: a realistic library (a directory of overrides over a big
// archive, both at the root) beside PhysFS, and Exists and Open from two threads at once
// through one library as throughput against one thread, ours and PhysFS's.
#include "BenchSetup.h"
#include "Cases.h"
#include "Peers.h"

#include <sys/stat.h>

#include <fstream>
#include <stdexcept>
#include <thread>

namespace bench {

namespace {

constexpr unsigned Lookups = 100000;
constexpr unsigned Reads = 20000;
constexpr std::size_t Capacity = 4096;

struct Setting {
    unsigned overrides = 0;                  // files of the directory of overrides: entries 0, 3, 6, ...
    std::vector<std::string> hits;           // names of many.zip, a third of them overridden
    std::vector<std::string> misses;         // names nothing holds
    std::vector<std::string> reads;          // names read whole
    std::vector<std::string> hitsBelowMount; // the 16-volume library's paths
    std::vector<std::string> readsBelowMount;
};

Setting g_setting;

bool Overridden(unsigned p_index)
{
    return p_index % 3 == 0 && p_index / 3 < g_setting.overrides;
}

// The overrides: entry 3k of many.zip, for k below the count of the tree's files, written
// with other bytes (seed 3) under the same name. Made once; a stamp marks it complete.
void WriteOverrides()
{
    const std::string root = Path("overrides");
    struct stat status;
    if (::stat((root + "/.complete").c_str(), &status) == 0)
        return;
    for (unsigned k = 0; k < g_setting.overrides; ++k) {
        const unsigned index = 3 * k;
        const std::string path = root + "/" + corpus::EntryName(g_setup.layout, index);
        corpus::MakeDirectories(path.substr(0, path.rfind('/')));
        std::ofstream out(path, std::ios_base::binary | std::ios_base::trunc);
        const std::string bytes = corpus::EntryBytes(index, 3);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
            throw std::runtime_error("cannot write " + path);
    }
    std::ofstream stamp(root + "/.complete");
    if (!stamp.flush())
        throw std::runtime_error("cannot write " + root + "/.complete");
}

// The overrides with a kept index (the realistic rows) or asked on disk at every call (the
// *_live rows).
boost::shared_ptr<AssetLibrary> MakeRealistic(bool p_live)
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    library->MountDirectory(qorfile::filepath(Path("overrides")), AssetPath(), 1,
                            p_live ? AssetLibrary::DirectoryIndex::Live : AssetLibrary::DirectoryIndex::Kept);
    library->MountArchive(qorfile::filepath(Path("many.zip")), AssetPath(), 0, std::string());
    return library;
}

// PhysFS searches its mounts in the order of its search path: the overrides first.
void MountPhysfsRealistic()
{
    if (!PHYSFS_mount(Path("many.zip").c_str(), nullptr, 1) || !PHYSFS_mount(Path("overrides").c_str(), nullptr, 0))
        throw std::runtime_error("PhysFS cannot mount the realistic library");
}

void UnmountPhysfsRealistic()
{
    PHYSFS_unmount(Path("overrides").c_str());
    PHYSFS_unmount(Path("many.zip").c_str());
}

// Runs p_work(i) for every i below p_count, split among p_threads threads started for each
// iteration; p_work gives a count (found assets, bytes read), summed and checked at the end.
// One thread's work runs on the benchmark's own thread, so that its CPU time is measured too.
template <class Work>
void RunSplit(benchmark::State& p_state, unsigned p_threads, std::size_t p_count, std::size_t p_expected, Work p_work)
{
    std::size_t total = 0;
    for (auto _ : p_state) {
        if (p_threads == 1) {
            total = 0;
            for (std::size_t i = 0; i < p_count; ++i)
                total += p_work(i);
            benchmark::DoNotOptimize(total);
            continue;
        }
        std::vector<std::size_t> counts(p_threads, 0);
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < p_threads; ++t) {
            threads.emplace_back([&, t] {
                std::size_t count = 0;
                for (std::size_t i = t; i < p_count; i += p_threads)
                    count += p_work(i);
                counts[t] = count;
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        total = 0;
        for (std::size_t count : counts)
            total += count;
        benchmark::DoNotOptimize(total);
    }
    if (total != p_expected)
        p_state.SkipWithError("wrong answers");
    p_state.SetItemsProcessed(static_cast<std::int64_t>(p_state.iterations() * p_count));
}

std::size_t ReadBytes(const std::vector<std::string>& p_names, bool p_overrides)
{
    std::size_t bytes = 0;
    for (const std::string& name : p_names) {
        const unsigned index = IndexOf(name);
        bytes += corpus::EntrySize(index, p_overrides && Overridden(index) ? 3 : 1);
    }
    return bytes;
}

// ---------------------------------------------------------------------------------------
// the realistic library

void ExistsRealisticOurs(benchmark::State& state, bool p_hits, bool p_live)
{
    boost::shared_ptr<AssetLibrary> library = MakeRealistic(p_live);
    const std::vector<AssetPath> paths = ToAssetPaths(p_hits ? g_setting.hits : g_setting.misses);
    RunSplit(state, 1, paths.size(), p_hits ? paths.size() : 0,
             [&](std::size_t i) -> std::size_t { return library->Exists(paths[i]) ? 1 : 0; });
}

void ExistsRealisticPhysfs(benchmark::State& state, bool p_hits)
{
    MountPhysfsRealistic();
    const std::vector<std::string>& names = p_hits ? g_setting.hits : g_setting.misses;
    RunSplit(state, 1, names.size(), p_hits ? names.size() : 0,
             [&](std::size_t i) -> std::size_t { return PHYSFS_exists(names[i].c_str()) ? 1 : 0; });
    UnmountPhysfsRealistic();
}

void ReadRealisticOurs(benchmark::State& state, bool p_live)
{
    boost::shared_ptr<AssetLibrary> library = MakeRealistic(p_live);
    const std::vector<AssetPath> paths = ToAssetPaths(g_setting.reads);
    std::vector<char> buffer(Capacity);
    RunSplit(state, 1, paths.size(), ReadBytes(g_setting.reads, true), [&](std::size_t i) {
        return Drain(library->Open(paths[i], Volume::Binary).get(), buffer.data(), Capacity);
    });
}

void ReadRealisticPhysfs(benchmark::State& state)
{
    MountPhysfsRealistic();
    std::vector<char> buffer(Capacity);
    RunSplit(state, 1, g_setting.reads.size(), ReadBytes(g_setting.reads, true),
             [&](std::size_t i) { return DrainPhysfs(g_setting.reads[i].c_str(), buffer.data(), Capacity); });
    UnmountPhysfsRealistic();
}

// ---------------------------------------------------------------------------------------
// one library from one and from two threads

void ExistsThreadsOurs(benchmark::State& state, unsigned p_threads)
{
    boost::shared_ptr<AssetLibrary> library = MakeLibrary16();
    const std::vector<AssetPath> paths = ToAssetPaths(g_setting.hitsBelowMount);
    RunSplit(state, p_threads, paths.size(), paths.size(),
             [&](std::size_t i) -> std::size_t { return library->Exists(paths[i]) ? 1 : 0; });
}

void ExistsThreadsPhysfs(benchmark::State& state, unsigned p_threads)
{
    MountPhysfs16();
    const std::vector<std::string>& names = g_setting.hitsBelowMount;
    RunSplit(state, p_threads, names.size(), names.size(),
             [&](std::size_t i) -> std::size_t { return PHYSFS_exists(names[i].c_str()) ? 1 : 0; });
    UnmountPhysfs16();
}

void ReadThreadsOurs(benchmark::State& state, unsigned p_threads)
{
    boost::shared_ptr<AssetLibrary> library = MakeLibrary16();
    const std::vector<AssetPath> paths = ToAssetPaths(g_setting.readsBelowMount);
    std::vector<std::vector<char>> buffers(p_threads, std::vector<char>(Capacity));
    RunSplit(state, p_threads, paths.size(), ReadBytes(g_setting.reads, false), [&](std::size_t i) {
        return Drain(library->Open(paths[i], Volume::Binary).get(), buffers[i % p_threads].data(), Capacity);
    });
}

void ReadThreadsPhysfs(benchmark::State& state, unsigned p_threads)
{
    MountPhysfs16();
    const std::vector<std::string>& names = g_setting.readsBelowMount;
    std::vector<std::vector<char>> buffers(p_threads, std::vector<char>(Capacity));
    RunSplit(state, p_threads, names.size(), ReadBytes(g_setting.reads, false),
             [&](std::size_t i) { return DrainPhysfs(names[i].c_str(), buffers[i % p_threads].data(), Capacity); });
    UnmountPhysfs16();
}

} // namespace

void RegisterLibraryCases()
{
    Setting& s = g_setting;
    const corpus::Layout& layout = g_setup.layout;
    s.overrides = std::min(layout.treeFiles, (layout.entries + 2) / 3);
    for (unsigned i = 0; i < Lookups; ++i) {
        s.hits.push_back(corpus::EntryName(layout, static_cast<unsigned>(corpus::Mix(i + 7) % layout.entries)));
        s.misses.push_back(corpus::MissingName(layout, static_cast<unsigned>(corpus::Mix(i + 8) % layout.entries)));
        s.hitsBelowMount.push_back(MountPoint(static_cast<unsigned>(corpus::Mix(i + 9) % layout.mounts)) + "/" +
                                   s.hits.back());
    }
    for (unsigned i = 0; i < Reads / g_setup.divisor; ++i) {
        s.reads.push_back(corpus::EntryName(layout, static_cast<unsigned>(corpus::Mix(i + 10) % layout.entries)));
        s.readsBelowMount.push_back(MountPoint(i % layout.mounts) + "/" + s.reads.back());
    }
    WriteOverrides();

    using benchmark::RegisterBenchmark;
    for (bool hits : {true, false}) {
        const std::string kind = hits ? "exists_hit_realistic/" : "exists_miss_realistic/";
        Fix(RegisterBenchmark((kind + "ours").c_str(), ExistsRealisticOurs, hits, false));
        Fix(RegisterBenchmark((kind + "ours_live").c_str(), ExistsRealisticOurs, hits, true));
        Fix(RegisterBenchmark((kind + "physfs").c_str(), ExistsRealisticPhysfs, hits));
    }
    Warm(RegisterBenchmark("small_read_realistic/ours", ReadRealisticOurs, false));
    Warm(RegisterBenchmark("small_read_realistic/ours_live", ReadRealisticOurs, true));
    Warm(RegisterBenchmark("small_read_realistic/physfs", ReadRealisticPhysfs));
    for (unsigned threads : {1u, 2u}) {
        const std::string suffix = std::to_string(threads);
        Fix(RegisterBenchmark(("exists_threads/ours_" + suffix).c_str(), ExistsThreadsOurs, threads));
        Fix(RegisterBenchmark(("exists_threads/physfs_" + suffix).c_str(), ExistsThreadsPhysfs, threads));
        Warm(RegisterBenchmark(("small_read_threads/ours_" + suffix).c_str(), ReadThreadsOurs, threads));
        Warm(RegisterBenchmark(("small_read_threads/physfs_" + suffix).c_str(), ReadThreadsPhysfs, threads));
    }
}

std::vector<Row> LibraryRows()
{
    return {
        // The overrides from a kept index; the *_live rows ask the disk at every call.
        {"exists_hit_realistic", "physfs", {"exists_hit_realistic/ours"}, {"exists_hit_realistic/physfs"}, 0.2, false},
        {"exists_miss_realistic",
         "physfs",
         {"exists_miss_realistic/ours"},
         {"exists_miss_realistic/physfs"},
         0.2,
         false},
        {"small_read_realistic", "physfs", {"small_read_realistic/ours"}, {"small_read_realistic/physfs"}, 0.4, false},
        {"exists_hit_realistic_live",
         "physfs",
         {"exists_hit_realistic/ours_live"},
         {"exists_hit_realistic/physfs"},
         0,
         false},
        {"exists_miss_realistic_live",
         "physfs",
         {"exists_miss_realistic/ours_live"},
         {"exists_miss_realistic/physfs"},
         0,
         false},
        {"small_read_realistic_live",
         "physfs",
         {"small_read_realistic/ours_live"},
         {"small_read_realistic/physfs"},
         0,
         false},
        // Two threads' throughput over one thread's: one thread's time over two threads'.
        {"exists_threads2", "ours_1", {"exists_threads/ours_2"}, {"exists_threads/ours_1"}, 1.7, true},
        {"exists_threads2", "physfs_1", {"exists_threads/physfs_2"}, {"exists_threads/physfs_1"}, 0, true},
        {"small_read_threads2", "ours_1", {"small_read_threads/ours_2"}, {"small_read_threads/ours_1"}, 1.7, true},
        {"small_read_threads2", "physfs_1", {"small_read_threads/physfs_2"}, {"small_read_threads/physfs_1"}, 0, true},
    };
}

} // namespace bench
