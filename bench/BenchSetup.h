// What every benchmark file shares: the corpus's place and layout, the mount points of the
// 16-volume library, the registration settings, and the small helpers every case uses to read
// a stream or a name. The peers' handles are in Peers.h, the ratio table in Report.h.
#pragma once

#include "BenchCorpus.h"

#include <Assets/AssetLibrary.h>
#include <Assets/AssetPath.h>
#include <Assets/Volume.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <istream>
#include <string>
#include <vector>

namespace bench {

using Qor::Draxel::Assets::AssetLibrary;
using Qor::Draxel::Assets::AssetPath;
using Qor::Draxel::Assets::Volume;

// The corpus the process runs on (set once by main before any case is registered).
struct Setup {
    std::string dir;
    unsigned divisor = 1;
    corpus::Layout layout;
    std::string self; // this program, for the fresh processes of the resident cases
};

extern Setup g_setup;

inline std::string Path(const std::string& p_name)
{
    return g_setup.dir + "/" + p_name;
}

// Where copy p_index of many.zip is mounted in the 16-volume library.
inline std::string MountPoint(unsigned p_index)
{
    return corpus::Format("m%02u", p_index, 0);
}

// The entry index in a name of many.zip ("assets/dNNNN/eNNNNNN.bin").
inline unsigned IndexOf(const std::string& p_name)
{
    return static_cast<unsigned>(std::strtoul(p_name.c_str() + p_name.rfind('/') + 2, nullptr, 10));
}

inline std::vector<AssetPath> ToAssetPaths(const std::vector<std::string>& p_names)
{
    return std::vector<AssetPath>(p_names.begin(), p_names.end());
}

// The 16 links to many.zip, each at its mount point, at priorities 0 to 3.
inline boost::shared_ptr<AssetLibrary> MakeLibrary16()
{
    boost::shared_ptr<AssetLibrary> library = AssetLibrary::Create();
    for (unsigned i = 0; i < g_setup.layout.mounts; ++i)
        library->MountArchive(qorfile::filepath(Path(corpus::MountName(i))), AssetPath(MountPoint(i)), i % 4,
                              std::string());
    return library;
}

// Reads what is left of p_stream into p_buffer; the count read (0 for no stream).
inline std::size_t Drain(std::istream* p_stream, char* p_buffer, std::size_t p_capacity)
{
    if (!p_stream)
        return 0;
    p_stream->read(p_buffer, static_cast<std::streamsize>(p_capacity));
    return static_cast<std::size_t>(p_stream->gcount());
}

// Every case is timed in microseconds of wall time.
inline benchmark::internal::Benchmark* Fix(benchmark::internal::Benchmark* p_benchmark)
{
    return p_benchmark->Unit(benchmark::kMicrosecond)->UseRealTime();
}

// The reads are timed warm, every peer alike: on this kind of guest the first pass over a file
// the page cache has let go of, or over memory the process has not had before, can cost ten
// times the rest.
inline benchmark::internal::Benchmark* Warm(benchmark::internal::Benchmark* p_benchmark)
{
    return Fix(p_benchmark->MinWarmUpTime(0.2));
}

} // namespace bench
