// The groups of cases: each registers its benchmarks over the corpus of g_setup (BenchSetup.h)
// and names the rows of the ratio table that compare them.
#pragma once

#include "Report.h"

#include <string>
#include <vector>

namespace bench {

// Mounting and existence through one volume and through the 16-volume library
// (MountBenchmarks.cpp).
void RegisterMountCases();
std::vector<Row> MountRows();

// The --resident mode: one mount of p_case in this fresh process; prints how much the resident
// set grew. 2 for an unknown case.
int MeasureResident(const std::string& p_case);

// Small, big and directory reads beside the peers and the raw limits (ReadBenchmarks.cpp).
void RegisterReadCases();
std::vector<Row> ReadRows();

// Loading a level by one batch read, by Open one by one and by libzip, from an archive in
// random order and one packed in load order; every entry read into the caller's memory
// (LevelBenchmarks.cpp).
void RegisterLevelCases();
std::vector<Row> LevelRows();

// Whole libraries: the realistic library of overrides over one archive, and two threads at
// once (LibraryBenchmarks.cpp).
void RegisterLibraryCases();
std::vector<Row> LibraryRows();

} // namespace bench
