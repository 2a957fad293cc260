// Random content for the tests that hold one way of answering against another on random
// libraries: paths over a small alphabet (so that volumes overlap, shadow and nest), entry names
// that archives and a directory of overrides share, bytes drawn from a few values (line ends
// among them), keys, and the library of layers those tests mount.
#pragma once

#include "TestSupport.h"

#include <Assets/AssetLibrary.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// p_minDepth to p_maxDepth components, each "a", "b" or "c.txt".
std::string RandomPath(std::mt19937& p_random, int p_minDepth, int p_maxDepth);
// p_size bytes, each drawn from p_alphabet.
std::string RandomBytes(std::mt19937& p_random, std::size_t p_size, const std::string& p_alphabet);
// "dN/fM", N below 3 and M below p_files.
std::string RandomName(std::mt19937& p_random, unsigned p_files);
// 1 to 40 bytes of any value.
std::string RandomKey(std::mt19937& p_random);

// A library of four layers written into p_dir: plain.zip at the root (priority 0), given.pak
// read with p_key (1), p_below's archive mounted at "sub" without a key (2), and the files of
// p_overrides (name, bytes) in the directory "overrides" at the root (3).
boost::shared_ptr<Qor::Draxel::Assets::AssetLibrary>
MountLayers(const ScratchDir& p_dir, const std::string& p_plain, const std::string& p_given, const std::string& p_key,
            const std::pair<std::string, std::string>& p_below,
            const std::vector<std::pair<std::string, std::string>>& p_overrides);

} // namespace testing_support
