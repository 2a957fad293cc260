// The ratio table (Report.h).
#include "Report.h"

#include <iomanip>
#include <iostream>
#include <sstream>

namespace bench {

void CollectingReporter::ReportRuns(const std::vector<Run>& p_runs)
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

void PrintRatios(const std::map<std::string, Result>& p_results, const std::vector<Row>& p_rows)
{
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
          << std::setw(14) << "peer" << std::setw(9) << "ratio" << std::setw(9) << "target"
          << "  \n";
    std::ostringstream lines;
    for (const Row& row : p_rows) {
        bool ok = true;
        const double ours = sum(row.ours, row.resident, ok);
        const double theirs = sum(row.theirs, row.resident, ok);
        if (!ok || theirs <= 0)
            continue;
        const double ratio = row.atLeast ? theirs / ours : ours / theirs;
        const char* unit = row.resident ? " KiB" : " us";
        const double scale = row.resident ? 1.0 / 1024 : 1.0;
        std::ostringstream target;
        if (row.target > 0)
            target << (row.atLeast ? ">= " : "<= ") << row.target
                   << ((row.atLeast ? ratio >= row.target : ratio <= row.target) ? " met" : " MISSED");
        table << std::left << std::setw(24) << row.name << std::setw(10) << row.peer << std::right << std::fixed
              << std::setprecision(1) << std::setw(11) << ours * scale << unit << std::setw(11) << theirs * scale
              << unit << std::setprecision(3) << std::setw(9) << ratio << "  " << target.str() << "\n";
        lines << "ratio " << row.name << " " << row.peer << " " << std::setprecision(3) << std::fixed << ratio << "\n";
    }
    std::cout << "\n" << table.str() << "\n" << lines.str() << std::flush;
}

} // namespace bench
