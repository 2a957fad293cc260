// pack --from through libzip: whatever libzip reads (deflated, ZIP64, data descriptors,
// comments, and the other methods its build has), decompressed by libzip.
#include "SourceArchive.h"
#include "ToolSupport.h"

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
            const char* name = zip_get_name(_archive, static_cast<zip_uint64_t>(index), ZIP_FL_ENC_GUESS);
            if (!name)
                throw Failure(_path, "entry " + std::to_string(index) + ": " + zip_strerror(_archive));
            Entry entry;
            entry.name = name;
            entry.directory = !entry.name.empty() && entry.name.back() == '/';
            if (entry.directory)
                entry.name.pop_back();
            entry.index = static_cast<std::size_t>(index);
            if (!entry.name.empty())
                entries.push_back(std::move(entry));
        }
        return entries;
    }

    std::string Read(std::size_t p_index, const std::string& p_name) const override
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(_archive, p_index, 0, &stat) != 0)
            throw Failure(_path + ": " + p_name, zip_strerror(_archive));
        zip_file_t* file = zip_fopen_index(_archive, p_index, 0);
        if (!file)
            throw Failure(_path + ": " + p_name, std::string("cannot read the entry: ") + zip_strerror(_archive));
        std::string bytes;
        std::vector<char> chunk(std::size_t(1) << 16);
        zip_int64_t got = 0;
        while ((got = zip_fread(file, chunk.data(), chunk.size())) > 0)
            bytes.append(chunk.data(), static_cast<std::size_t>(got));
        const std::string error = got < 0 ? zip_file_strerror(file) : std::string();
        zip_fclose(file);
        if (got < 0)
            throw Failure(_path + ": " + p_name, "cannot read the entry: " + error);
        if ((stat.valid & ZIP_STAT_SIZE) && bytes.size() != stat.size)
            throw Failure(_path + ": " + p_name, "the entry's data is shorter than its size");
        return bytes;
    }

private:
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
