// Mounting many.zip and existence tests through one volume and through the 16-volume library,
// beside libzip and PhysFS; the resident memory of a mount, measured in a fresh process.
#include "BenchSetup.h"
#include "Cases.h"
#include "Peers.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/ArchiveWriter.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>

namespace bench {

namespace {

using Qor::Draxel::Assets::ArchiveVolume;

constexpr unsigned Lookups = 100000;

struct Names {
    std::vector<std::string> hits;           // Lookups names of many.zip, random order
    std::vector<std::string> misses;         // Lookups names of no entry
    std::vector<std::string> hitsBelowMount; // the same hits, each below one of the 16 mount points
    std::vector<std::string> missesBelowMount;
};

Names g_names;

// ---------------------------------------------------------------------------------------
// Resident memory: a fresh process of this program (--resident CASE) takes its resident set,
// mounts, and prints how much the resident set grew while the mount lives. A fresh process,
// because a heap that earlier runs have grown would hide what a mount allocates.

long ResidentBytes()
{
    long pages = 0, resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

double ResidentDelta(const char* p_case)
{
    const std::string command = "'" + g_setup.self + "' --resident " + p_case + " --corpus '" + g_setup.dir +
                                "' --divisor " + std::to_string(g_setup.divisor);
    std::FILE* output = ::popen(command.c_str(), "r");
    if (!output)
        return -1;
    double delta = -1;
    if (std::fscanf(output, "%lf", &delta) != 1)
        delta = -1;
    ::pclose(output);
    return delta;
}

// ---------------------------------------------------------------------------------------
// mount

void MountOurs(benchmark::State& state)
{
    const qorfile::filepath path(Path("many.zip"));
    for (auto _ : state) {
        boost::shared_ptr<Volume> volume = ArchiveVolume::Open(path, std::string());
        benchmark::DoNotOptimize(volume.get());
    }
    state.counters["resident"] = ResidentDelta("ours");
}

// An archive of one entry whose name of about 64 KiB is p_unit over and over: the prefixes up
// to its slashes, its folders, overlap, and a run of slashes gives one folder. Written beside
// the corpus on first use.
void MountSlashes(benchmark::State& state, const std::string& p_unit)
{
    const std::string file = Path("slashes-" + std::to_string(p_unit.size()) + ".zip");
    {
        std::string name;
        while (name.size() + p_unit.size() < 65000)
            name += p_unit;
        std::ofstream out(file, std::ios_base::binary);
        Qor::Draxel::Assets::ArchiveWriter writer(out);
        writer.AddBytes(name + "x", "x");
        writer.Finish();
    }
    const qorfile::filepath path(file);
    for (auto _ : state) {
        boost::shared_ptr<Volume> volume = ArchiveVolume::Open(path, std::string());
        benchmark::DoNotOptimize(volume.get());
    }
}

void MountOursLibrary(benchmark::State& state)
{
    const qorfile::filepath path(Path("many.zip"));
    for (auto _ : state) {
        boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
        library->MountArchive(path, AssetPath("data"), 0, std::string());
        benchmark::DoNotOptimize(library.get());
    }
    state.counters["resident"] = ResidentDelta("ours_library");
}

void MountLibzip(benchmark::State& state)
{
    const std::string path = Path("many.zip");
    for (auto _ : state) {
        zip_t* archive = OpenZip(path);
        benchmark::DoNotOptimize(archive);
        zip_discard(archive);
    }
    state.counters["resident"] = ResidentDelta("libzip");
}

void MountPhysfsCase(benchmark::State& state)
{
    const std::string path = Path("many.zip");
    for (auto _ : state) {
        MountPhysfs(path, "data");
        PHYSFS_unmount(path.c_str());
    }
    state.counters["resident"] = ResidentDelta("physfs");
}

// ---------------------------------------------------------------------------------------
// existence

template <class Test>
void CountExisting(benchmark::State& p_state, std::size_t p_count, bool p_expected, Test p_test)
{
    std::size_t found = 0;
    for (auto _ : p_state) {
        found = 0;
        for (std::size_t i = 0; i < p_count; ++i)
            found += p_test(i) ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    if (found != (p_expected ? p_count : 0))
        p_state.SkipWithError("wrong answers");
    p_state.SetItemsProcessed(static_cast<std::int64_t>(p_state.iterations() * p_count));
}

void ExistsOurs(benchmark::State& state, bool p_hits)
{
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(Path("many.zip")), std::string());
    const std::vector<AssetPath> paths = ToAssetPaths(p_hits ? g_names.hits : g_names.misses);
    CountExisting(state, paths.size(), p_hits, [&](std::size_t i) { return volume->Exists(paths[i]); });
}

void ExistsOursLibrary16(benchmark::State& state, bool p_hits)
{
    boost::shared_ptr<AssetLibrary> library = MakeLibrary16();
    const std::vector<AssetPath> paths = ToAssetPaths(p_hits ? g_names.hitsBelowMount : g_names.missesBelowMount);
    CountExisting(state, paths.size(), p_hits, [&](std::size_t i) { return library->Exists(paths[i]); });
}

void ExistsLibzip(benchmark::State& state, bool p_hits)
{
    zip_t* archive = OpenZip(Path("many.zip"));
    const std::vector<std::string>& names = p_hits ? g_names.hits : g_names.misses;
    CountExisting(state, names.size(), p_hits,
                  [&](std::size_t i) { return zip_name_locate(archive, names[i].c_str(), 0) >= 0; });
    zip_discard(archive);
}

void ExistsPhysfs(benchmark::State& state, bool p_hits)
{
    const std::string path = Path("many.zip");
    MountPhysfs(path, nullptr);
    const std::vector<std::string>& names = p_hits ? g_names.hits : g_names.misses;
    CountExisting(state, names.size(), p_hits, [&](std::size_t i) { return PHYSFS_exists(names[i].c_str()) != 0; });
    PHYSFS_unmount(path.c_str());
}

void ExistsPhysfs16(benchmark::State& state, bool p_hits)
{
    MountPhysfs16();
    const std::vector<std::string>& names = p_hits ? g_names.hitsBelowMount : g_names.missesBelowMount;
    CountExisting(state, names.size(), p_hits, [&](std::size_t i) { return PHYSFS_exists(names[i].c_str()) != 0; });
    UnmountPhysfs16();
}

} // namespace

void RegisterMountCases()
{
    const corpus::Layout& layout = g_setup.layout;
    for (unsigned i = 0; i < Lookups; ++i) {
        const unsigned mount = static_cast<unsigned>(corpus::Mix(i + 5) % layout.mounts);
        g_names.hits.push_back(corpus::EntryName(layout, static_cast<unsigned>(corpus::Mix(i) % layout.entries)));
        g_names.misses.push_back(
            corpus::MissingName(layout, static_cast<unsigned>(corpus::Mix(i + 1) % layout.entries)));
        g_names.hitsBelowMount.push_back(MountPoint(mount) + "/" + g_names.hits.back());
        g_names.missesBelowMount.push_back(MountPoint(mount) + "/" + g_names.misses.back());
    }

    using benchmark::RegisterBenchmark;
    Fix(RegisterBenchmark("mount/ours", MountOurs));
    Fix(RegisterBenchmark("mount/ours_library", MountOursLibrary));
    Fix(RegisterBenchmark("mount/libzip", MountLibzip));
    Fix(RegisterBenchmark("mount/physfs", MountPhysfsCase));
    Fix(RegisterBenchmark("mount_slashes/ours_a_slash", MountSlashes, std::string("a/")));
    Fix(RegisterBenchmark("mount_slashes/ours_slashes", MountSlashes, std::string("/")));
    for (bool hits : {true, false}) {
        const std::string kind = hits ? "exists_hit/" : "exists_miss/";
        Fix(RegisterBenchmark((kind + "ours").c_str(), ExistsOurs, hits));
        Fix(RegisterBenchmark((kind + "ours_library16").c_str(), ExistsOursLibrary16, hits));
        Fix(RegisterBenchmark((kind + "libzip").c_str(), ExistsLibzip, hits));
        Fix(RegisterBenchmark((kind + "physfs").c_str(), ExistsPhysfs, hits));
        Fix(RegisterBenchmark((kind + "physfs16").c_str(), ExistsPhysfs16, hits));
    }
}

std::vector<Row> MountRows()
{
    return {
        {"mount", "libzip", {"mount/ours"}, {"mount/libzip"}, 0.5},
        {"mount", "physfs", {"mount/ours"}, {"mount/physfs"}, 0},
        {"mount_library", "libzip", {"mount/ours_library"}, {"mount/libzip"}, 0.5},
        {"mount_resident", "libzip", {"mount/ours"}, {"mount/libzip"}, 1.0, false, true},
        {"mount_resident", "physfs", {"mount/ours"}, {"mount/physfs"}, 0, false, true},
        {"exists_hit", "libzip", {"exists_hit/ours"}, {"exists_hit/libzip"}, 1.0},
        {"exists_hit", "physfs", {"exists_hit/ours"}, {"exists_hit/physfs"}, 0},
        {"exists_hit_library16", "libzip", {"exists_hit/ours_library16"}, {"exists_hit/libzip"}, 0},
        {"exists_hit_library16", "physfs16", {"exists_hit/ours_library16"}, {"exists_hit/physfs16"}, 0.1},
        {"exists_miss", "libzip", {"exists_miss/ours"}, {"exists_miss/libzip"}, 1.0},
        {"exists_miss", "physfs", {"exists_miss/ours"}, {"exists_miss/physfs"}, 0},
        {"exists_miss_library16", "libzip", {"exists_miss/ours_library16"}, {"exists_miss/libzip"}, 0},
        {"exists_miss_library16", "physfs16", {"exists_miss/ours_library16"}, {"exists_miss/physfs16"}, 0.1},
    };
}

int MeasureResident(const std::string& p_case)
{
    const std::string path = Path("many.zip");
    const long before = ResidentBytes();
    long after = 0;
    if (p_case == "ours") {
        boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(path), std::string());
        after = ResidentBytes();
    } else if (p_case == "ours_library") {
        boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
        library->MountArchive(qorfile::filepath(path), AssetPath("data"), 0, std::string());
        after = ResidentBytes();
    } else if (p_case == "libzip") {
        zip_t* archive = OpenZip(path);
        after = ResidentBytes();
        zip_discard(archive);
    } else if (p_case == "physfs") {
        MountPhysfs(path, "data");
        after = ResidentBytes();
        PHYSFS_unmount(path.c_str());
    } else {
        return 2;
    }
    std::cout << (after - before) << std::endl;
    return 0;
}

} // namespace bench
