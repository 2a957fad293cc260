// pack --from through libzip: whatever libzip reads (deflated, ZIP64, data descriptors,
// comments, and the other methods its build has), decompressed by libzip.
#include "SourceArchive.h"
#include "ToolSupport.h"

#include "ArchiveCore/Format.h"

#include <zip.h>

namespace draxel_tool {

namespace {

class LibzipArchive : public SourceArchive {
public:
    explicit LibzipArchive(const std::string& p_path) : _path(p_path)
    {
        int error = 0;
        _archive = zip_open(p_path.c_str(), ZIP_RDONLY, &error);
        if (!_archive) {
            zip_error_t reason;
            zip_error_init_with_code(&reason, error);
            const std::string text = zip_error_strerror(&reason);
            zip_error_fini(&reason);
            throw Failure(p_path, "cannot read the archive: " + text);
        }
    }
    ~LibzipArchive() override { zip_discard(_archive); }
    LibzipArchive(const LibzipArchive&) = delete;
    LibzipArchive& operator=(const LibzipArchive&) = delete;

    std::vector<Entry> Entries() const override
    {
        std::vector<Entry> entries;
        const zip_int64_t count = zip_get_num_entries(_archive, 0);
        for (zip_int64_t index = 0; index < count; ++index) {
            const zip_uint64_t at = static_cast<zip_uint64_t>(index);
            const char* name = zip_get_name(_archive, at, ZIP_FL_ENC_GUESS);
            zip_stat_t stat;
            zip_stat_init(&stat);
            zip_uint8_t system = 0;
            zip_uint32_t attributes = 0;
            if (!name || zip_stat_index(_archive, at, 0, &stat) != 0 ||
                zip_file_get_external_attributes(_archive, at, 0, &system, &attributes) != 0)
                throw Failure(_path, "entry " + std::to_string(index) + ": " + zip_strerror(_archive));
            Entry entry;
            entry.link = Qor::Draxel::Assets::Zip::IsSymbolicLink(static_cast<std::uint16_t>(system << 8), attributes);
            entry.size = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
            entry.crc32 = (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0;
            entry.index = static_cast<std::size_t>(index);
            entry.stamp = StampOf(_archive, at, stat, system, attributes);
            if (Name(name, entry))
                entries.push_back(std::move(entry));
        }
        return entries;
    }

    void Read(const Entry& p_entry, const std::function<void(const char*, std::size_t)>& p_sink) const override
    {
        const std::string subject = _path + ": " + p_entry.name;
        // Closed however the reading ends: the sink may throw.
        const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(zip_fopen_index(_archive, p_entry.index, 0),
                                                                     zip_fclose);
        if (!file)
            throw Failure(subject, std::string("cannot read the entry: ") + zip_strerror(_archive));
        std::vector<char> chunk(std::size_t(1) << 16);
        std::uint64_t produced = 0;
        zip_int64_t got = 0;
        while ((got = zip_fread(file.get(), chunk.data(), chunk.size())) > 0) {
            if (static_cast<std::uint64_t>(got) > p_entry.size - produced)
                throw Failure(subject, "the entry's data is longer than its size");
            produced += static_cast<std::uint64_t>(got);
            p_sink(chunk.data(), static_cast<std::size_t>(got));
        }
        if (got < 0)
            throw Failure(subject, std::string("cannot read the entry: ") + zip_file_strerror(file.get()));
        if (produced != p_entry.size)
            throw Failure(subject, "the entry's data is shorter than its size");
    }

private:
    // The time of the central extended timestamp extra field, or libzip's reading of the MS-DOS
    // fields (local time); the permission bits of a Unix mode.
    static Stamp StampOf(zip_t* p_archive, zip_uint64_t p_index, const zip_stat_t& p_stat, zip_uint8_t p_system,
                         zip_uint32_t p_attributes)
    {
        namespace Zip = Qor::Draxel::Assets::Zip;
        zip_uint16_t length = 0;
        const zip_uint8_t* field =
            zip_file_extra_field_get_by_id(p_archive, p_index, Zip::ExtendedTimestamp::Tag, 0, &length, ZIP_FL_CENTRAL);
        Zip::ExtendedTimestamp timestamp;
        std::string extra;
        if (field) {
            // libzip hands the field's data alone: put its tag and length back before it.
            Zip::EncodeFixed16(extra, Zip::ExtendedTimestamp::Tag);
            Zip::EncodeFixed16(extra, length);
            extra.append(reinterpret_cast<const char*>(field), length);
        }
        const bool universal = field && timestamp.FindIn(extra.data(), extra.size());
        const bool dated = (p_stat.valid & ZIP_STAT_MTIME) != 0;
        const std::int64_t local = dated ? static_cast<std::int64_t>(p_stat.mtime) : 0;
        const bool undated = !dated || local == DosSeconds(Zip::DosFirstDate, Zip::DosFirstTime);
        return EntryStamp(static_cast<std::uint16_t>(p_system << 8), p_attributes, undated, universal,
                          universal ? timestamp.modified : local);
    }

    std::string _path;
    zip_t* _archive = nullptr;
};

} // namespace

std::unique_ptr<SourceArchive> OpenSourceArchive(const std::string& p_path)
{
    return std::make_unique<LibzipArchive>(p_path);
}

const char* SourceArchiveReads()
{
    return "deflated, ZIP64, data descriptors, comments: whatever libzip reads";
}

} // namespace draxel_tool
