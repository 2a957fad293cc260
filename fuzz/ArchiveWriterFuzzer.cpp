// Fuzz target: archives that ArchiveWriter makes from fuzzed entries (plain, scrambled with a
// given key, scrambled carrying its key) read back by ArchiveVolume. The round trip must be
// exact: no check fails, every file opens with its bytes, every directory and every folder
// the names imply exists.
#include "EnsureCounter.h"
#include "MemoryVolume.h"
#include "StreamReading.h"

#include <Assets/ArchiveVolume.h>
#include <Assets/ArchiveWriter.h>
#include <QorDebug.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

using namespace Qor::Draxel::Assets;
using namespace testing_support;

namespace {

void Require(bool p_condition)
{
    if (!p_condition)
        std::abort();
}

// Consumes the input: a byte's worth of length, then that many bytes.
struct Input {
    const std::uint8_t* data;
    std::size_t size;

    bool Empty() const { return size == 0; }
    std::uint8_t Byte()
    {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    std::string Text(std::size_t p_length)
    {
        const std::size_t length = p_length < size ? p_length : size;
        std::string text(reinterpret_cast<const char*>(data), length);
        data += length;
        size -= length;
        return text;
    }
};

struct Item {
    std::string name;
    std::string bytes;
    bool directory;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* p_data, std::size_t p_size)
{
    UseEnsureHandler(false); // a round trip reports nothing: any report is a finding
    Input input{p_data, p_size};
    const std::uint8_t mode = input.Byte() % 3;
    std::string key;
    if (mode == 1)
        key = input.Text(1 + input.Byte() % 40);
    else if (mode == 2)
        key = input.Text(32);
    if (mode != 0 && key.size() != (mode == 2 ? 32u : key.size()))
        return 0;
    if (mode != 0 && key.empty())
        return 0;

    std::vector<Item> items;
    while (!input.Empty() && items.size() < 32) {
        const std::uint8_t head = input.Byte();
        Item item;
        item.directory = (head & 0x80) != 0;
        item.name = input.Text(head & 0x7f);
        if (!item.directory)
            item.bytes = input.Text(input.Byte() * 4u);
        items.push_back(item);
    }

    std::ostringstream out;
    try {
        ArchiveWriter writer(out, key);
        for (const Item& item : items) {
            if (item.directory)
                writer.AddDirectory(item.name);
            else
                writer.AddBytes(item.name, item.bytes);
        }
        writer.Finish(mode == 2);
    } catch (const std::invalid_argument&) {
        return 0;
    } catch (const std::length_error&) {
        return 0;
    }

    // What the reader must show: the last file stored under each key (a second file under a
    // key the reader reports as a duplicate, so such inputs stop here), directories, folders.
    std::map<std::string, std::string> files;
    std::set<std::string> present;
    for (const Item& item : items) {
        std::string stored = item.name;
        if (item.directory && (stored.empty() || (stored.back() != '/' && stored.back() != '\\')))
            stored += '/';
        const bool directory = stored.back() == '/' || stored.back() == '\\';
        const std::string path = AssetPath(stored).str();
        if (!directory) {
            if (files.count(path))
                return 0;
            files[path] = item.bytes;
        }
        present.insert(path);
        for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
            present.insert(AssetPath(path.substr(0, slash)).str());
    }

    const std::string archive = out.str();
    const std::string file = mode == 0 ? "archive.zip" : "archive.dat";
    const MemoryVolume holder(file, archive);
    const std::string given = mode == 1 ? key : std::string();
    boost::shared_ptr<Volume> volume = ArchiveVolume::Open(holder, AssetPath(file), given);
    // A volume at the root resolves a path by dropping one leading slash, so "/" + key asks
    // for the key itself; the key "/" cannot be asked for at all.
    auto query = [](const std::string& p_key) { return AssetPath("/" + p_key); };
    for (const std::string& path : present)
        Require(path == "/" || volume->Exists(query(path)));
    for (const auto& entry : files) {
        if (entry.first == "/")
            continue;
        boost::shared_ptr<std::istream> binary = volume->Open(query(entry.first), Volume::Binary);
        boost::shared_ptr<std::istream> text = volume->Open(query(entry.first), Volume::Text);
        Require(binary && text);
        bool complete = false;
        Require(ReadUpTo(*binary, entry.second.size() + 1, complete) == entry.second && complete);
        Require(ReadUpTo(*text, entry.second.size() + 1, complete) == FoldLineEnds(entry.second) && complete);
    }
    Require(!volume->Exists(AssetPath("\x01missing\x02")) || present.count("\x01missing\x02"));
    return 0;
}
