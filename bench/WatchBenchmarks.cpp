// The watcher's two costs that a host feels every frame, over a tree of 20 000 watched files
// (200 directories of 100, and for the latency also one directory of 20 000) made in the
// temporary directory:
//   - Poll() when nothing changed (the target: at most 2 microseconds), with inotify beside its
//     floor (one read of an empty inotify descriptor) and with the polling fallback between two
//     rescans;
//   - the latency from a write to the Poll() that reports it (the target: at most 20 ms at the
//     99th percentile), polling as fast as the host can; the counters p50_us, p99_us and max_us
//     hold its distribution over all iterations.
//
//   assets_watch_bench [benchmark options]
#include <Assets/AssetWatcher.h>

#include <QorDraxelUtility.h>

#include <benchmark/benchmark.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Qor::Draxel::Assets::AssetLibrary;
using Qor::Draxel::Assets::AssetPath;
using Qor::Draxel::Assets::AssetWatcher;
namespace fs = std::filesystem;

// A watched tree of directories x files, made once and removed at exit.
struct Tree {
    Tree(int p_directories, int p_files) : directories(p_directories), files(p_files)
    {
        root = (fs::temp_directory_path() /
                ("assets-watch-bench-" + std::to_string(::getpid()) + "-" + std::to_string(p_directories)))
                   .string();
        for (int d = 0; d < directories; ++d) {
            char directory[16];
            std::snprintf(directory, sizeof directory, "d%03d", d);
            fs::create_directories(fs::path(root) / directory);
            for (int f = 0; f < files; ++f) {
                char name[32];
                std::snprintf(name, sizeof name, "%s/f%05d.glsl", directory, f);
                std::ofstream(fs::path(root) / name) << "void main() {}\n";
            }
        }
        Qor::Draxel::Utility::GetLogger().set_line_sink([](qordebug::level, const std::string&, const std::string&) {});
        library = AssetLibrary::Create();
        library->MountDirectory(qorfile::filepath(root), AssetPath(std::string("Shaders")), 1);
    }
    ~Tree()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    int directories;
    int files;
    std::string root;
    boost::shared_ptr<AssetLibrary> library;
};

// 20 000 files: 200 directories of 100.
Tree& TheTree()
{
    static Tree tree(200, 100);
    return tree;
}

// 20 000 files in one directory.
Tree& FlatTree()
{
    static Tree tree(1, 20000);
    return tree;
}

std::unique_ptr<AssetWatcher> WatchAll(benchmark::State& p_state, AssetWatcher::Notification p_notification,
                                       Tree& p_tree = TheTree())
{
    auto watcher = std::make_unique<AssetWatcher>(p_tree.library, p_notification, std::chrono::seconds(3600));
    watcher->Watch(AssetPath(std::string("Shaders")));
    if (watcher->WatchedFiles() != std::size_t(p_tree.directories) * p_tree.files)
        p_state.SkipWithError("the tree is not watched whole");
    if ((p_notification == AssetWatcher::Native) != watcher->IsNative())
        p_state.SkipWithError("native notification is not available");
    return watcher;
}

void PollQuiet(benchmark::State& p_state, AssetWatcher::Notification p_notification)
{
    std::unique_ptr<AssetWatcher> watcher = WatchAll(p_state, p_notification);
    std::size_t changes = 0;
    for (auto _ : p_state)
        changes += watcher->Poll().size();
    if (changes != 0)
        p_state.SkipWithError("a quiet tree reported changes");
    p_state.counters["watched"] = static_cast<double>(watcher->WatchedFiles());
}

void PollQuietNative(benchmark::State& p_state)
{
    PollQuiet(p_state, AssetWatcher::Native);
}

void PollQuietPolling(benchmark::State& p_state)
{
    PollQuiet(p_state, AssetWatcher::Polling);
}

// The floor under a quiet Poll: one read of an empty non-blocking inotify descriptor.
void RawInotifyRead(benchmark::State& p_state)
{
    const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0) {
        p_state.SkipWithError("inotify_init1 failed");
        return;
    }
    alignas(inotify_event) char buffer[4096];
    for (auto _ : p_state)
        benchmark::DoNotOptimize(::read(descriptor, buffer, sizeof buffer));
    ::close(descriptor);
}

// Each iteration rewrites one file of the tree (in place, a different file each time) and
// polls without pause until the watcher reports it; the time is the write plus the polls.
void WriteToPoll(benchmark::State& p_state, Tree& p_tree)
{
    std::unique_ptr<AssetWatcher> watcher = WatchAll(p_state, AssetWatcher::Native, p_tree);
    std::vector<double> latencies;
    unsigned iteration = 0;
    for (auto _ : p_state) {
        const int d = static_cast<int>(iteration % p_tree.directories);
        const int f = static_cast<int>((iteration / p_tree.directories) % p_tree.files);
        char name[32];
        std::snprintf(name, sizeof name, "d%03d/f%05d.glsl", d, f);
        const std::string text = "void main() { /* " + std::to_string(iteration) + " */ }\n";
        ++iteration;

        const auto start = std::chrono::steady_clock::now();
        {
            std::ofstream out(fs::path(p_tree.root) / name, std::ios_base::trunc);
            out << text;
        }
        const std::string expected = std::string("Shaders/") + name;
        bool seen = false;
        while (!seen && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
            for (const AssetWatcher::Change& change : watcher->Poll())
                seen = seen || change.path.str() == expected;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!seen) {
            p_state.SkipWithError("a write was not reported within 5 seconds");
            break;
        }
        p_state.SetIterationTime(elapsed.count());
        latencies.push_back(elapsed.count() * 1e6);
        // A change may be reported in two polls (the truncation, then the bytes): drain.
        watcher->Poll();
    }
    if (latencies.empty())
        return;
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p_fraction) {
        return latencies[std::min(latencies.size() - 1, static_cast<std::size_t>(p_fraction * latencies.size()))];
    };
    p_state.counters["p50_us"] = percentile(0.50);
    p_state.counters["p99_us"] = percentile(0.99);
    p_state.counters["max_us"] = latencies.back();
}

} // namespace

BENCHMARK(RawInotifyRead);
BENCHMARK(PollQuietNative);
BENCHMARK(PollQuietPolling);
void WriteToPollNested(benchmark::State& p_state)
{
    WriteToPoll(p_state, TheTree());
}

void WriteToPollFlat(benchmark::State& p_state)
{
    WriteToPoll(p_state, FlatTree());
}

BENCHMARK(WriteToPollNested)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteToPollFlat)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
