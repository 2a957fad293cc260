// The cases of whole libraries: a realistic library (a directory of overrides over a big
// archive, both at the root) beside PhysFS, and Exists and Open from two threads at once
// through one library as throughput against one thread, ours and PhysFS's.
#pragma once

#include <string>
#include <vector>

namespace library_bench {

// One row of the ratio table: CASE PEER, our cases and the peer's (times summed), the target
// (0: none) and whether the ratio is the peer's time over ours (a speed-up, "at least").
struct Row {
    const char* name;
    const char* peer;
    std::vector<std::string> ours;
    std::vector<std::string> theirs;
    double target;
    bool atLeast;
};

// Registers the cases over the corpus in p_dir (made with p_divisor); makes the directory of
// overrides there when it is missing.
void Register(const std::string& p_dir, unsigned p_divisor);

std::vector<Row> Rows();

} // namespace library_bench
