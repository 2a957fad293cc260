// Inspecting archives for the archive commands, and streaming their entries.
#include "ArchiveReading.h"

#include "ToolSupport.h"

#include <Assets/AssetPath.h>

#include "ArchiveCore/Format.h"
#include "ArchiveCore/LineEnds.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

void AddArchiveOptions(CLI::App& p_command, ArchiveOptions& p_options)
{
    p_command.add_option("ARCHIVE", p_options.file, "The archive")->required();
    AddKeyOptions(p_command, p_options.key);
    p_command.add_flag("--plain", p_options.plain,
                       "Read the archive as a plain ZIP whatever its name (a name that does not end in zip is "
                       "otherwise read as scrambled)");
}

std::unique_ptr<Inspection> InspectArchive(const ArchiveOptions& p_options)
{
    const std::string& file = p_options.file;
    if (fs::is_directory(fs::u8path(file)))
        throw Failure(file, "is a directory, not an archive");
    if (!fs::exists(fs::u8path(file)))
        throw Failure(file, "no such file");
    const std::string key = ResolveKey(p_options.key.text, p_options.key.file);
    auto inspection = std::make_unique<Inspection>(file, key,
                                                   p_options.plain ? Inspection::Reading::Plain : Inspection::Reading::ByName);
    // The library's sentence, and what to give this program to get past it.
    switch (inspection->FirstObstacle()) {
    case Inspection::Obstacle::Unreadable:
    case Inspection::Obstacle::WrongKey:
    case Inspection::Obstacle::NotAnArchive:
        throw Failure(file, inspection->Explanation());
    case Inspection::Obstacle::PlainArchive:
        throw Failure(file, inspection->Explanation() + ": read it with --plain (or name it .zip)");
    case Inspection::Obstacle::KeyMissing:
        throw Failure(file, inspection->Explanation() + ": give its key with --key or --key-file");
    default:
        return inspection;
    }
}

std::string IncompleteReason(const Inspection& p_inspection)
{
    return p_inspection.Incomplete() ? p_inspection.Explanation() : std::string();
}

std::vector<const InspectedEntry*> InPathOrder(const Inspection& p_inspection)
{
    struct Keyed {
        AssetPath path;
        const InspectedEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(p_inspection.Entries().size());
    for (const InspectedEntry& entry : p_inspection.Entries())
        keyed.push_back(Keyed{AssetPath(entry.name), &entry});
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& p_a, const Keyed& p_b) { return p_a.path < p_b.path; });
    std::vector<const InspectedEntry*> ordered;
    ordered.reserve(keyed.size());
    for (const Keyed& item : keyed)
        ordered.push_back(item.entry);
    return ordered;
}

bool Readable(const InspectedEntry& p_entry)
{
    return !p_entry.isDirectory && p_entry.localValid && p_entry.method == Zip::MethodStored &&
           !(p_entry.flags & Zip::FlagEncrypted);
}

bool StreamEntry(const Inspection& p_inspection, const InspectedEntry& p_entry, bool p_text,
                 const std::function<void(const char*, std::size_t)>& p_sink)
{
    if (!p_text)
        return p_inspection.ReadData(p_entry, [&](const char* p_bytes, std::size_t p_count) {
            p_sink(p_bytes, p_count);
            return true;
        });
    // Text mode: the volume's fold, chunk by chunk.
    Zip::LineEndFolder folder;
    std::string folded;
    const bool read = p_inspection.ReadData(p_entry, [&](const char* p_bytes, std::size_t p_count) {
        folded.resize(p_count + 1);
        p_sink(folded.data(), folder.Fold(p_bytes, p_count, &folded[0]));
        return true;
    });
    char cr;
    if (folder.Finish(&cr) != 0)
        p_sink(&cr, 1);
    return read;
}

std::string MethodName(std::uint16_t p_method)
{
    if (p_method == Zip::MethodStored)
        return "stored";
    if (p_method == Zip::MethodDeflate)
        return "deflate";
    return "method" + std::to_string(p_method);
}

std::string Hex32(std::uint32_t p_value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIx32, p_value);
    return text;
}

} // namespace draxel_tool
