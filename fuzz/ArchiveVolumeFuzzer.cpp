// Fuzz target: an archive volume over hostile bytes in memory, read plain ("zip"), scrambled
// with a given key, and scrambled with the key from its own trailer, with an ensure handler
// that throws and, in one mode, with one that returns. Every name the central directory
// lists, some of their prefixes and a few names it does not hold are asked for with Exists
// and opened in both modes; Text must be Binary with CR LF folded.
#include "CentralWalk.h"
#include "EnsureCounter.h"
#include "MemoryVolume.h"
#include "StreamReading.h"

#include <Assets/ArchiveVolume.h>
#include <QorDebug.h>

#include <cstdlib>
#include <stdexcept>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

// A stream holds no more than its archive, whatever the local header claims, so no input of
// the fuzzer's size may ask for 32 MiB: std::bad_alloc is a finding.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=32:quarantine_size_mb=16";
}

namespace {

const std::string GivenKey = "fuzz-key";
// The bytes read of each stream; the size is always checked through a seek.
constexpr std::size_t ReadLimit = 1 << 16;

void Require(bool p_condition)
{
    if (!p_condition)
        std::abort();
}

// Opens p_name in p_mode; an empty pointer after a failed check, or a report the handler
// throws, gives an empty result.
boost::shared_ptr<std::istream> OpenQuietly(const Volume& p_volume, const AssetPath& p_name, Volume::OpenMode p_mode)
{
    try {
        return p_volume.Open(p_name, p_mode);
    } catch (const qordebug::ensure_failure&) {
    }
    return boost::shared_ptr<std::istream>();
}

// The stream's length by seeking, then back to the start.
std::streamoff Length(std::istream& p_stream)
{
    p_stream.seekg(0, std::ios_base::end);
    const std::streamoff length = p_stream.tellg();
    p_stream.seekg(0, std::ios_base::beg);
    return length;
}

// p_archiveSize bounds every stream.
void Visit(const Volume& p_volume, const std::string& p_name, std::size_t p_archiveSize)
{
    const AssetPath name(p_name);
    try {
        p_volume.Exists(name);
    } catch (const qordebug::ensure_failure&) {
        Require(false); // Exists checks nothing
    }
    boost::shared_ptr<std::istream> binary = OpenQuietly(p_volume, name, Volume::Binary);
    boost::shared_ptr<std::istream> text = OpenQuietly(p_volume, name, Volume::Text);
    if (!binary || !text)
        return;
    const std::streamoff binaryLength = Length(*binary);
    const std::streamoff textLength = Length(*text);
    Require(binaryLength >= 0 && textLength >= 0 && textLength <= binaryLength);
    Require(binaryLength <= static_cast<std::streamoff>(p_archiveSize));
    bool binaryComplete = false;
    bool textComplete = false;
    const std::string binaryBytes = ReadUpTo(*binary, ReadLimit, binaryComplete);
    const std::string textBytes = ReadUpTo(*text, ReadLimit, textComplete);
    if (binaryComplete) {
        Require(static_cast<std::streamoff>(binaryBytes.size()) == binaryLength);
        Require(textComplete && textBytes == FoldLineEnds(binaryBytes));
    }
}

void Run(const std::string& p_bytes, const std::string& p_file, const std::string& p_key, std::size_t p_trailer)
{
    const MemoryVolume holder(p_file, p_bytes);
    boost::shared_ptr<Volume> volume;
    try {
        volume = ArchiveVolume::Open(holder, AssetPath(p_file), p_key);
    } catch (const qordebug::ensure_failure&) {
        return;
    }
    std::string nameKey = p_key;
    if (nameKey.empty() && p_trailer > 0 && p_bytes.size() >= p_trailer)
        nameKey = p_bytes.substr(p_bytes.size() - p_trailer);
    else if (nameKey.empty() && p_trailer > 0)
        nameKey.assign(p_trailer, '\0');
    std::vector<std::string> names = CentralNames(p_bytes, nameKey, p_trailer);
    if (names.size() > 64)
        names.resize(64);
    for (const std::string& name : names) {
        Visit(*volume, name, p_bytes.size());
        const AssetPath path(name);
        const std::string text = path.str();
        const std::size_t slash = text.rfind('/');
        if (slash != std::string::npos)
            Visit(*volume, text.substr(0, slash), p_bytes.size());
        Visit(*volume, text + "/missing", p_bytes.size());
    }
    for (const char* absent : {"", "/", "missing", "a/b", "\\"})
        Visit(*volume, absent, p_bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* p_data, std::size_t p_size)
{
    const std::string bytes(reinterpret_cast<const char*>(p_data), p_size);
    if (bytes.empty())
        return 0; // an asset without bytes throws std::out_of_range from the factory
    // A throwing handler stops at the first report, so all three modes run with it. With a
    // returning one the walk goes through every header the end record counts, each one
    // reported; one mode, chosen by the input's length, runs with it, when the count is
    // small enough for the fuzzer's pace (the regression corpus covers large counts).
    UseEnsureHandler(false);
    Run(bytes, "archive.zip", std::string(), 0);
    Run(bytes, "archive.dat", GivenKey, 0);
    Run(bytes, "archive.dat", std::string(), 32);
    UseEnsureHandler(true);
    const std::string trailerKey = bytes.size() >= 32 ? bytes.substr(bytes.size() - 32) : std::string(32, '\0');
    switch (p_size % 3) {
    case 0:
        if (CentralCount(bytes, std::string(), 0) <= 1024)
            Run(bytes, "archive.zip", std::string(), 0);
        break;
    case 1:
        if (CentralCount(bytes, GivenKey, 0) <= 1024)
            Run(bytes, "archive.dat", GivenKey, 0);
        break;
    default:
        if (CentralCount(bytes, trailerKey, 32) <= 1024)
            Run(bytes, "archive.dat", std::string(), 32);
        break;
    }
    return 0;
}
