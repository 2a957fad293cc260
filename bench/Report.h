// The ratio table printed after the runs: our time over each peer's, one row per pair, and one
// line "ratio CASE PEER VALUE" per row for machines to read.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// One row of the table: CASE PEER, our cases and the peer's (each side summed), the target
// (0: none), whether the ratio compares resident memory instead of time, and whether it is
// the peer's time over ours (a speed-up, the target a least value).
struct Row {
    const char* name;
    const char* peer;
    std::vector<std::string> ours;
    std::vector<std::string> theirs;
    double target;
    bool atLeast = false;
    bool resident = false;
};

struct Result {
    double time = 0; // microseconds per iteration
    double resident = -1;
    bool ok = false;
};

// The console output, kept; every run's time and resident counter collected by its
// registered name.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    // Tabular counters, no colours: the output is read by people and by scripts alike.
    CollectingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& p_runs) override;

    std::map<std::string, Result> results;
};

// Prints the table and the ratio lines of p_rows, skipping rows whose cases did not run.
void PrintRatios(const std::map<std::string, Result>& p_results, const std::vector<Row>& p_rows);

} // namespace bench
