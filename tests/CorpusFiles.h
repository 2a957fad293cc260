// The regression corpus of damaged archives (tests/corpus): its files, and how each is read. A
// name ending in ".given.dat" is scrambled with a given key, another ".dat" carries its key in
// a 32-byte trailer, and a ".zip" is plain.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

namespace testing_support {

inline const std::string CorpusDirectory = ASSETS_CORPUS_DIR;
inline const std::string GivenKey = "fuzz-key"; // the archive fuzz target's, so its findings read alike

inline bool EndsWith(const std::string& p_text, const std::string& p_end)
{
    return p_text.size() >= p_end.size() && p_text.compare(p_text.size() - p_end.size(), p_end.size(), p_end) == 0;
}

// The archives of the corpus, by name.
inline std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(CorpusDirectory.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (EndsWith(name, ".zip") || EndsWith(name, ".dat"))
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct CorpusMode {
    std::string key;     // given to the volume
    std::string nameKey; // unscrambles the names for the test's own listing (CentralNames)
    std::size_t trailer;
};

inline CorpusMode ModeOf(const std::string& p_file, const std::string& p_bytes, const std::string& p_givenKey)
{
    if (EndsWith(p_file, ".given.dat"))
        return CorpusMode{p_givenKey, p_givenKey, 0};
    if (EndsWith(p_file, ".dat"))
        return CorpusMode{std::string(),
                          p_bytes.size() >= 32 ? p_bytes.substr(p_bytes.size() - 32) : std::string(32, '\0'), 32};
    return CorpusMode{std::string(), std::string(), 0};
}

} // namespace testing_support
