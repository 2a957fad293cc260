// The benchmarks: this library beside libzip, PhysFS and the machine's raw limits, over the
// corpus of testing/BenchCorpus.h, in one process. After the runs a table of ratios (our time over each
// peer's) is printed, and one line "ratio CASE PEER VALUE" per pair for machines to read.
//
//   assets_bench --corpus DIR --divisor N [benchmark options]
#include "BenchCorpus.h"
#include "LibraryBenchmarks.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/ArchiveWriter.h>
#include <Assets/AssetLibrary.h>
#include <Assets/FileSystemVolume.h>

#include <QorDraxelUtility.h>

#include <benchmark/benchmark.h>
#include <physfs.h>
#include <zip.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Qor::Draxel::Assets::ArchiveVolume;
using Qor::Draxel::Assets::AssetLibrary;
using Qor::Draxel::Assets::AssetPath;
using Qor::Draxel::Assets::FileSystemVolume;
using Qor::Draxel::Assets::Volume;

constexpr unsigned Lookups = 100000;
constexpr unsigned SmallReads = 20000;
constexpr std::size_t SmallCapacity = 4096;

struct Corpus {
    std::string dir;
    corpus::Layout layout;
    std::vector<std::string> hits;           // Lookups names of many.zip, random order
    std::vector<std::string> misses;         // Lookups names of no entry
    std::vector<std::string> hitsBelowMount; // the same hits, each below one of the 16 mount points
    std::vector<std::string> missesBelowMount;
    std::vector<std::string> reads;          // the small entries read, random order
    std::vector<std::string> treeReads;      // the files of the tree read, random order

    std::string Path(const std::string& p_name) const { return dir + "/" + p_name; }
};

Corpus g_corpus;

std::string MountPoint(unsigned p_index)
{
    return corpus::Format("m%02u", p_index, 0);
}

void LoadCorpus(const std::string& p_dir, unsigned p_divisor)
{
    Corpus& c = g_corpus;
    c.dir = p_dir;
    c.layout = corpus::MakeLayout(p_divisor);
    const unsigned reads = SmallReads / p_divisor;
    for (unsigned i = 0; i < Lookups; ++i) {
        const unsigned mount = static_cast<unsigned>(corpus::Mix(i + 5) % c.layout.mounts);
        c.hits.push_back(corpus::EntryName(c.layout, static_cast<unsigned>(corpus::Mix(i) % c.layout.entries)));
        c.misses.push_back(corpus::MissingName(c.layout, static_cast<unsigned>(corpus::Mix(i + 1) % c.layout.entries)));
        c.hitsBelowMount.push_back(MountPoint(mount) + "/" + c.hits.back());
        c.missesBelowMount.push_back(MountPoint(mount) + "/" + c.misses.back());
    }
    for (unsigned i = 0; i < reads; ++i) {
        c.reads.push_back(corpus::EntryName(c.layout, static_cast<unsigned>(corpus::Mix(i + 2) % c.layout.entries)));
        c.treeReads.push_back(corpus::TreeName(c.layout, static_cast<unsigned>(corpus::Mix(i + 3) % c.layout.treeFiles)));
    }
}

std::vector<AssetPath> ToAssetPaths(const std::vector<std::string>& p_names)
{
    return std::vector<AssetPath>(p_names.begin(), p_names.end());
}

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

std::string g_self;
unsigned g_divisor = 1;

double ResidentDelta(const char* p_case)
{
    const std::string command = "'" + g_self + "' --resident " + p_case + " --corpus '" + g_corpus.dir +
                                "' --divisor " + std::to_string(g_divisor);
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
// Peers' handles.

zip_t* OpenZip(const std::string& p_path)
{
    int error = 0;
    zip_t* archive = zip_open(p_path.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        throw std::runtime_error("libzip cannot open " + p_path);
    return archive;
}

void MountPhysfs(const std::string& p_path, const char* p_point)
{
    if (!PHYSFS_mount(p_path.c_str(), p_point, 1))
        throw std::runtime_error("PhysFS cannot mount " + p_path);
}

boost::shared_ptr<AssetLibrary> MakeLibrary16()
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    for (unsigned i = 0; i < g_corpus.layout.mounts; ++i)
        library->MountArchive(qorfile::filepath(g_corpus.Path(corpus::MountName(i))), AssetPath(MountPoint(i)), i % 4,
                              std::string());
    return library;
}

void MountPhysfs16()
{
    for (unsigned i = 0; i < g_corpus.layout.mounts; ++i)
        MountPhysfs(g_corpus.Path(corpus::MountName(i)), MountPoint(i).c_str());
}

void UnmountPhysfs16()
{
    for (unsigned i = 0; i < g_corpus.layout.mounts; ++i)
        PHYSFS_unmount(g_corpus.Path(corpus::MountName(i)).c_str());
}

// Reads what is left of p_stream into p_buffer; the count read.
std::size_t Drain(std::istream& p_stream, char* p_buffer, std::size_t p_capacity)
{
    p_stream.read(p_buffer, static_cast<std::streamsize>(p_capacity));
    return static_cast<std::size_t>(p_stream.gcount());
}

// The peers' whole read of one entry into p_buffer; 0 when it is not there.
std::size_t DrainZip(zip_t* p_archive, const char* p_name, char* p_buffer, std::size_t p_capacity)
{
    zip_file_t* file = zip_fopen(p_archive, p_name, 0);
    if (!file)
        return 0;
    const zip_int64_t count = zip_fread(file, p_buffer, p_capacity);
    zip_fclose(file);
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::size_t DrainPhysfs(const char* p_name, char* p_buffer, std::size_t p_capacity)
{
    PHYSFS_File* file = PHYSFS_openRead(p_name);
    if (!file)
        return 0;
    const PHYSFS_sint64 count = PHYSFS_readBytes(file, p_buffer, p_capacity);
    PHYSFS_close(file);
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

// A buffer whose pages are touched once, so that no copy into it pays for page faults.
std::vector<char>& BigBuffer(int p_which)
{
    static std::vector<char> buffers[2];
    std::vector<char>& buffer = buffers[p_which];
    if (buffer.size() != g_corpus.layout.bigSize)
        buffer.assign(g_corpus.layout.bigSize, '\1');
    return buffer;
}

void Fail(benchmark::State& p_state, const char* p_what)
{
    p_state.SkipWithError(p_what);
}

// ---------------------------------------------------------------------------------------
// mount

void MountOurs(benchmark::State& state)
{
    const qorfile::filepath path(g_corpus.Path("many.zip"));
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
    const std::string file = g_corpus.Path("slashes-" + std::to_string(p_unit.size()) + ".zip");
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
    const qorfile::filepath path(g_corpus.Path("many.zip"));
    for (auto _ : state) {
        boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
        library->MountArchive(path, AssetPath("data"), 0, std::string());
        benchmark::DoNotOptimize(library.get());
    }
    state.counters["resident"] = ResidentDelta("ours_library");
}

void MountLibzip(benchmark::State& state)
{
    const std::string path = g_corpus.Path("many.zip");
    for (auto _ : state) {
        zip_t* archive = OpenZip(path);
        benchmark::DoNotOptimize(archive);
        zip_discard(archive);
    }
    state.counters["resident"] = ResidentDelta("libzip");
}

void MountPhysfsCase(benchmark::State& state)
{
    const std::string path = g_corpus.Path("many.zip");
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
        Fail(p_state, "wrong answers");
    p_state.SetItemsProcessed(static_cast<std::int64_t>(p_state.iterations() * p_count));
}

void ExistsOurs(benchmark::State& state, bool p_hits)
{
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(g_corpus.Path("many.zip")), std::string());
    const std::vector<AssetPath> paths = ToAssetPaths(p_hits ? g_corpus.hits : g_corpus.misses);
    CountExisting(state, paths.size(), p_hits, [&](std::size_t i) { return volume->Exists(paths[i]); });
}

void ExistsOursLibrary16(benchmark::State& state, bool p_hits)
{
    boost::shared_ptr<AssetLibrary> library = MakeLibrary16();
    const std::vector<AssetPath> paths = ToAssetPaths(p_hits ? g_corpus.hitsBelowMount : g_corpus.missesBelowMount);
    CountExisting(state, paths.size(), p_hits, [&](std::size_t i) { return library->Exists(paths[i]); });
}

void ExistsLibzip(benchmark::State& state, bool p_hits)
{
    zip_t* archive = OpenZip(g_corpus.Path("many.zip"));
    const std::vector<std::string>& names = p_hits ? g_corpus.hits : g_corpus.misses;
    CountExisting(state, names.size(), p_hits,
                  [&](std::size_t i) { return zip_name_locate(archive, names[i].c_str(), 0) >= 0; });
    zip_discard(archive);
}

void ExistsPhysfs(benchmark::State& state, bool p_hits)
{
    const std::string path = g_corpus.Path("many.zip");
    MountPhysfs(path, nullptr);
    const std::vector<std::string>& names = p_hits ? g_corpus.hits : g_corpus.misses;
    CountExisting(state, names.size(), p_hits, [&](std::size_t i) { return PHYSFS_exists(names[i].c_str()) != 0; });
    PHYSFS_unmount(path.c_str());
}

void ExistsPhysfs16(benchmark::State& state, bool p_hits)
{
    MountPhysfs16();
    const std::vector<std::string>& names = p_hits ? g_corpus.hitsBelowMount : g_corpus.missesBelowMount;
    CountExisting(state, names.size(), p_hits, [&](std::size_t i) { return PHYSFS_exists(names[i].c_str()) != 0; });
    UnmountPhysfs16();
}

// ---------------------------------------------------------------------------------------
// small reads: open and read whole each of the chosen entries

template <class Read>
void ReadAll(benchmark::State& p_state, const std::vector<std::string>& p_names, std::size_t p_seed, Read p_read)
{
    std::vector<char> buffer(SmallCapacity + 1);
    std::size_t expected = 0;
    for (const std::string& name : p_names) {
        const unsigned index = static_cast<unsigned>(std::strtoul(name.c_str() + name.rfind('/') + 2, nullptr, 10));
        expected += corpus::EntrySize(index, p_seed);
    }
    std::size_t bytes = 0;
    for (auto _ : p_state) {
        bytes = 0;
        for (std::size_t i = 0; i < p_names.size(); ++i)
            bytes += p_read(i, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(bytes);
    }
    if (bytes != expected)
        Fail(p_state, "wrong byte count");
    p_state.SetItemsProcessed(static_cast<std::int64_t>(p_state.iterations() * p_names.size()));
    p_state.SetBytesProcessed(static_cast<std::int64_t>(p_state.iterations() * bytes));
}

void SmallReadOurs(benchmark::State& state, const char* p_archive)
{
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(g_corpus.Path(p_archive)), std::string());
    const std::vector<AssetPath> paths = ToAssetPaths(g_corpus.reads);
    ReadAll(state, g_corpus.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        boost::shared_ptr<std::istream> stream = volume->Open(paths[i], Volume::Binary);
        return Drain(*stream, p_buffer, p_capacity);
    });
}

void SmallReadOursLibrary(benchmark::State& state)
{
    boost::shared_ptr<AssetLibrary> library = MakeLibrary16();
    std::vector<AssetPath> paths;
    for (std::size_t i = 0; i < g_corpus.reads.size(); ++i)
        paths.emplace_back(MountPoint(static_cast<unsigned>(i % g_corpus.layout.mounts)) + "/" + g_corpus.reads[i]);
    ReadAll(state, g_corpus.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        boost::shared_ptr<std::istream> stream = library->Open(paths[i], Volume::Binary);
        return Drain(*stream, p_buffer, p_capacity);
    });
}

void SmallReadLibzip(benchmark::State& state)
{
    zip_t* archive = OpenZip(g_corpus.Path("many.zip"));
    ReadAll(state, g_corpus.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        return DrainZip(archive, g_corpus.reads[i].c_str(), p_buffer, p_capacity);
    });
    zip_discard(archive);
}

void SmallReadPhysfs(benchmark::State& state)
{
    const std::string path = g_corpus.Path("many.zip");
    MountPhysfs(path, nullptr);
    ReadAll(state, g_corpus.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        return DrainPhysfs(g_corpus.reads[i].c_str(), p_buffer, p_capacity);
    });
    PHYSFS_unmount(path.c_str());
}

// The floor of an Open that opens the archive afresh: open(2), one pread(2) of the local
// header and the data, close(2), at the places the entries lie.
void SmallReadRaw(benchmark::State& state)
{
    const std::string path = g_corpus.Path("many.zip");
    zip_t* archive = OpenZip(path);
    std::vector<off_t> offsets;
    for (const std::string& name : g_corpus.reads) {
        // The data offset is not in libzip's public statistics; the local header of an entry
        // of our writer lies at the end of the entries before it, so the sum of their sizes
        // and headers is not needed: any place of the file shows the cost.
        offsets.push_back(static_cast<off_t>(corpus::Mix(name.size() + offsets.size()) % (1u << 20)));
    }
    zip_discard(archive);
    ReadAll(state, g_corpus.reads, 1, [&](std::size_t i, char* p_buffer, std::size_t) {
        const unsigned index = static_cast<unsigned>(std::strtoul(g_corpus.reads[i].c_str() +
                                                                  g_corpus.reads[i].rfind('/') + 2, nullptr, 10));
        const std::size_t size = corpus::EntrySize(index);
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
    boost::shared_ptr<Volume> volume = FileSystemVolume::Open(qorfile::filepath(g_corpus.Path("tree")));
    const std::vector<AssetPath> paths = ToAssetPaths(g_corpus.treeReads);
    ReadAll(state, g_corpus.treeReads, 2, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        boost::shared_ptr<std::istream> stream = volume->Open(paths[i], Volume::Binary);
        return Drain(*stream, p_buffer, p_capacity);
    });
}

void DirectoryReadIfstream(benchmark::State& state)
{
    std::vector<std::string> paths;
    for (const std::string& name : g_corpus.treeReads)
        paths.push_back(g_corpus.Path("tree/" + name));
    ReadAll(state, g_corpus.treeReads, 2, [&](std::size_t i, char* p_buffer, std::size_t p_capacity) {
        std::ifstream stream(paths[i], std::ios_base::binary);
        return Drain(stream, p_buffer, p_capacity);
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
        Fail(p_state, "short read");
    p_state.SetBytesProcessed(static_cast<std::int64_t>(p_state.iterations() * buffer.size()));
}

void BigReadOurs(benchmark::State& state)
{
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(qorfile::filepath(g_corpus.Path("big.zip")), std::string());
    const AssetPath path("big.bin");
    ReadBig(state, [&](char* p_buffer, std::size_t p_capacity) {
        boost::shared_ptr<std::istream> stream = volume->Open(path, Volume::Binary);
        return Drain(*stream, p_buffer, p_capacity);
    });
}

void BigReadLibzip(benchmark::State& state)
{
    zip_t* archive = OpenZip(g_corpus.Path("big.zip"));
    ReadBig(state, [&](char* p_buffer, std::size_t p_capacity) {
        return DrainZip(archive, "big.bin", p_buffer, p_capacity);
    });
    zip_discard(archive);
}

void BigReadPhysfs(benchmark::State& state)
{
    const std::string path = g_corpus.Path("big.zip");
    MountPhysfs(path, nullptr);
    ReadBig(state, [&](char* p_buffer, std::size_t p_capacity) {
        return DrainPhysfs("big.bin", p_buffer, p_capacity);
    });
    PHYSFS_unmount(path.c_str());
}

// read(2) of as many bytes from the page cache (the archive file is cached by the runs before).
void BigReadRaw(benchmark::State& state)
{
    const std::string path = g_corpus.Path("big.zip");
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

// ---------------------------------------------------------------------------------------
// The ratio table.

struct Result {
    double time = 0; // microseconds per iteration
    double resident = -1;
    bool ok = false;
};

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    // Tabular counters, no colours: the output is read by people and by scripts alike.
    CollectingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& p_runs) override
    {
        ConsoleReporter::ReportRuns(p_runs);
        for (const Run& run : p_runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            // The registered name, without the "/min_warmup_time:..." and "/real_time" parts.
            Result& result = results[run.run_name.function_name];
            result.ok = !run.error_occurred;
            result.time = run.GetAdjustedRealTime();
            auto resident = run.counters.find("resident");
            if (resident != run.counters.end())
                result.resident = resident->second.value;
        }
    }

    std::map<std::string, Result> results;
};

struct Comparison {
    const char* name;      // CASE
    const char* peer;      // PEER
    std::vector<std::string> ours;
    std::vector<std::string> theirs; // summed
    bool resident;
    double target; // 0: no target
    bool atLeast;  // the ratio is the peer's time over ours, and the target a least value

    Comparison(const char* p_name, const char* p_peer, std::vector<std::string> p_ours, std::vector<std::string> p_theirs,
               bool p_resident, double p_target, bool p_atLeast = false)
        : name(p_name), peer(p_peer), ours(std::move(p_ours)), theirs(std::move(p_theirs)), resident(p_resident),
          target(p_target), atLeast(p_atLeast)
    {
    }
};

void PrintRatios(const std::map<std::string, Result>& p_results)
{
    std::vector<Comparison> comparisons = {
        {"mount", "libzip", {"mount/ours"}, {"mount/libzip"}, false, 0.5},
        {"mount", "physfs", {"mount/ours"}, {"mount/physfs"}, false, 0},
        {"mount_library", "libzip", {"mount/ours_library"}, {"mount/libzip"}, false, 0.5},
        {"mount_resident", "libzip", {"mount/ours"}, {"mount/libzip"}, true, 1.0},
        {"mount_resident", "physfs", {"mount/ours"}, {"mount/physfs"}, true, 0},
        {"exists_hit", "libzip", {"exists_hit/ours"}, {"exists_hit/libzip"}, false, 1.0},
        {"exists_hit", "physfs", {"exists_hit/ours"}, {"exists_hit/physfs"}, false, 0},
        {"exists_hit_library16", "libzip", {"exists_hit/ours_library16"}, {"exists_hit/libzip"}, false, 1.0},
        {"exists_hit_library16", "physfs16", {"exists_hit/ours_library16"}, {"exists_hit/physfs16"}, false, 0},
        {"exists_miss", "libzip", {"exists_miss/ours"}, {"exists_miss/libzip"}, false, 1.0},
        {"exists_miss", "physfs", {"exists_miss/ours"}, {"exists_miss/physfs"}, false, 0},
        {"exists_miss_library16", "libzip", {"exists_miss/ours_library16"}, {"exists_miss/libzip"}, false, 1.0},
        {"exists_miss_library16", "physfs16", {"exists_miss/ours_library16"}, {"exists_miss/physfs16"}, false, 0},
        {"small_read", "libzip", {"small_read/ours"}, {"small_read/libzip"}, false, 0.6},
        {"small_read", "physfs", {"small_read/ours"}, {"small_read/physfs"}, false, 0},
        {"small_read", "raw", {"small_read/ours"}, {"small_read/raw_open_pread_close"}, false, 1.3},
        {"small_read_library16", "libzip", {"small_read/ours_library16"}, {"small_read/libzip"}, false, 0.65},
        {"big_read", "raw", {"big_read/ours"}, {"big_read/raw_read", "big_read/raw_memcpy"}, false, 1.5},
        {"big_read", "libzip", {"big_read/ours"}, {"big_read/libzip"}, false, 0},
        {"big_read", "physfs", {"big_read/ours"}, {"big_read/physfs"}, false, 0},
        {"scrambled_read", "plain", {"scrambled_read/ours"}, {"small_read/ours"}, false, 1.2},
        {"directory_read", "ifstream", {"directory_read/ours"}, {"directory_read/ifstream"}, false, 0},
    };
    for (const library_bench::Row& row : library_bench::Rows())
        comparisons.push_back(Comparison{row.name, row.peer, row.ours, row.theirs, false, row.target, row.atLeast});

    auto sum = [&](const std::vector<std::string>& p_names, bool p_resident, bool& p_ok) {
        double total = 0;
        for (const std::string& name : p_names) {
            auto found = p_results.find(name);
            if (found == p_results.end() || !found->second.ok) {
                p_ok = false;
                continue;
            }
            total += p_resident ? found->second.resident : found->second.time;
        }
        return total;
    };

    std::ostringstream table;
    table << std::left << std::setw(24) << "case" << std::setw(10) << "peer" << std::right << std::setw(14) << "ours"
          << std::setw(14) << "peer" << std::setw(9) << "ratio" << std::setw(9) << "target" << "  \n";
    std::ostringstream lines;
    for (const Comparison& comparison : comparisons) {
        bool ok = true;
        const double ours = sum(comparison.ours, comparison.resident, ok);
        const double theirs = sum(comparison.theirs, comparison.resident, ok);
        if (!ok || theirs <= 0)
            continue;
        const double ratio = comparison.atLeast ? theirs / ours : ours / theirs;
        const char* unit = comparison.resident ? " KiB" : " us";
        const double scale = comparison.resident ? 1.0 / 1024 : 1.0;
        std::ostringstream target;
        if (comparison.target > 0)
            target << (comparison.atLeast ? ">= " : "<= ") << comparison.target
                   << ((comparison.atLeast ? ratio >= comparison.target : ratio <= comparison.target) ? " met" : " MISSED");
        table << std::left << std::setw(24) << comparison.name << std::setw(10) << comparison.peer << std::right
              << std::fixed << std::setprecision(1) << std::setw(11) << ours * scale << unit << std::setw(11)
              << theirs * scale << unit << std::setprecision(3) << std::setw(9) << ratio << "  " << target.str()
              << "\n";
        lines << "ratio " << comparison.name << " " << comparison.peer << " " << std::setprecision(3) << std::fixed
              << ratio << "\n";
    }
    std::cout << "\n" << table.str() << "\n" << lines.str() << std::flush;
}

void Register()
{
    using benchmark::RegisterBenchmark;
    auto fix = [](benchmark::internal::Benchmark* p_benchmark) {
        p_benchmark->Unit(benchmark::kMicrosecond)->UseRealTime();
    };
    fix(RegisterBenchmark("mount/ours", MountOurs));
    fix(RegisterBenchmark("mount/ours_library", MountOursLibrary));
    fix(RegisterBenchmark("mount/libzip", MountLibzip));
    fix(RegisterBenchmark("mount/physfs", MountPhysfsCase));
    fix(RegisterBenchmark("mount_slashes/ours_a_slash", MountSlashes, std::string("a/")));
    fix(RegisterBenchmark("mount_slashes/ours_slashes", MountSlashes, std::string("/")));
    for (bool hits : {true, false}) {
        const std::string kind = hits ? "exists_hit/" : "exists_miss/";
        fix(RegisterBenchmark((kind + "ours").c_str(), ExistsOurs, hits));
        fix(RegisterBenchmark((kind + "ours_library16").c_str(), ExistsOursLibrary16, hits));
        fix(RegisterBenchmark((kind + "libzip").c_str(), ExistsLibzip, hits));
        fix(RegisterBenchmark((kind + "physfs").c_str(), ExistsPhysfs, hits));
        fix(RegisterBenchmark((kind + "physfs16").c_str(), ExistsPhysfs16, hits));
    }
    // The reads are timed warm, every peer alike: on this kind of guest the first pass over a
    // file the page cache has let go of, or over memory the process has not had before, can
    // cost ten times the rest.
    auto warm = [&](benchmark::internal::Benchmark* p_benchmark) { fix(p_benchmark->MinWarmUpTime(0.2)); };
    warm(RegisterBenchmark("small_read/ours", SmallReadOurs, "many.zip"));
    warm(RegisterBenchmark("small_read/ours_library16", SmallReadOursLibrary));
    warm(RegisterBenchmark("small_read/libzip", SmallReadLibzip));
    warm(RegisterBenchmark("small_read/physfs", SmallReadPhysfs));
    warm(RegisterBenchmark("small_read/raw_open_pread_close", SmallReadRaw));
    warm(RegisterBenchmark("scrambled_read/ours", SmallReadOurs, "many.pak"));
    warm(RegisterBenchmark("directory_read/ours", DirectoryReadOurs));
    warm(RegisterBenchmark("directory_read/ifstream", DirectoryReadIfstream));
    warm(RegisterBenchmark("big_read/ours", BigReadOurs));
    warm(RegisterBenchmark("big_read/libzip", BigReadLibzip));
    warm(RegisterBenchmark("big_read/physfs", BigReadPhysfs));
    warm(RegisterBenchmark("big_read/raw_read", BigReadRaw));
    warm(RegisterBenchmark("big_read/raw_memcpy", BigMemcpy));
}

// The --resident mode: one mount in this fresh process; prints the growth of the resident set.
int MeasureResident(const std::string& p_case)
{
    const std::string path = g_corpus.Path("many.zip");
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

} // namespace

int main(int argc, char** argv)
{
    std::string dir, resident;
    unsigned divisor = 1;
    std::vector<char*> rest = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--corpus" && i + 1 < argc)
            dir = argv[++i];
        else if (argument == "--resident" && i + 1 < argc)
            resident = argv[++i];
        else if (argument == "--divisor" && i + 1 < argc)
            divisor = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else
            rest.push_back(argv[i]);
    }
    if (dir.empty()) {
        std::cerr << "usage: assets_bench --corpus DIR [--divisor N] [benchmark options]\n";
        return 2;
    }
    // Mounting logs three lines; the benchmarks measure the work, not a terminal.
    Qor::Draxel::Utility::GetLogger().set_line_sink(qordebug::line_sink());
    if (!PHYSFS_init(argv[0])) {
        std::cerr << "PhysFS cannot start\n";
        return 1;
    }
    g_self = "/proc/" + std::to_string(::getpid()) + "/exe";
    g_divisor = divisor;
    if (!resident.empty()) {
        g_corpus.dir = dir;
        return MeasureResident(resident);
    }
    LoadCorpus(dir, divisor);
    Register();
    library_bench::Register(dir, divisor);

    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PHYSFS_deinit();
    PrintRatios(reporter.results);
    return 0;
}
