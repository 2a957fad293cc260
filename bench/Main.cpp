// The benchmarks: this library beside libzip, PhysFS and the machine's raw limits, over the
// corpus of testing/BenchCorpus.h, in one process. After the runs a table of ratios (our time
// over each peer's) is printed, and one line "ratio CASE PEER VALUE" per pair for machines to
// read.
//
//   assets_bench --corpus DIR --divisor N [benchmark options]
#include "BenchSetup.h"
#include "Cases.h"
#include "Report.h"

#include <QorDraxelUtility.h>

#include <physfs.h>

#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace bench {

Setup g_setup;

} // namespace bench

int main(int argc, char** argv)
{
    using namespace bench;
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
    g_setup.dir = dir;
    g_setup.divisor = divisor == 0 ? 1 : divisor;
    g_setup.layout = corpus::MakeLayout(g_setup.divisor);
    g_setup.self = "/proc/" + std::to_string(::getpid()) + "/exe";
    if (!resident.empty())
        return MeasureResident(resident);

    RegisterMountCases();
    RegisterReadCases();
    RegisterLibraryCases();
    RegisterLevelCases();
    std::vector<Row> rows = MountRows();
    for (std::vector<Row> more : {ReadRows(), LibraryRows(), LevelRows()})
        rows.insert(rows.end(), more.begin(), more.end());

    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PHYSFS_deinit();
    PrintRatios(reporter.results, rows);
    return 0;
}
