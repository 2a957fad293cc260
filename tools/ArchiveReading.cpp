// Diagnosing archives for the archive commands, and streaming their entries.
#include "ArchiveReading.h"

#include "Platform.h"
#include "ToolSupport.h"

#include <Assets/AssetPath.h>

#include "ArchiveCore/Format.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

// Whether p_file exists and is neither a regular file nor a directory (a pipe, a device):
// something that may not give its bytes twice.
bool NeedsCopy(const std::string& p_file)
{
    std::error_code error;
    const fs::file_status status = fs::status(fs::u8path(p_file), error);
    return !error && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

// The temporary copies of streams, removed when the program ends (and by a signal before).
class StreamCopies {
public:
    ~StreamCopies()
    {
        for (const fs::path& folder : _folders) {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
        for (const std::string& path : _registered)
            platform::KeepOnSignal(path);
    }
    // A new folder for the copy named p_name, registered for removal (the folder first, so
    // that a signal removes the file before it); the copy's path.
    fs::path NewCopy(const std::string& p_name)
    {
        const fs::path folder =
            fs::temp_directory_path() / fs::u8path("draxel-assets-" + std::to_string(platform::ProcessId()) + "-" +
                                                   std::to_string(_folders.size()));
        std::error_code error;
        fs::create_directory(folder, error);
        if (error)
            throw Failure(folder.u8string(), "cannot make a temporary folder: " + error.message());
        _folders.push_back(folder);
        const fs::path copy = folder / fs::u8path(p_name);
        for (const fs::path& path : {folder, copy}) {
            _registered.push_back(path.u8string());
            platform::RemoveOnSignal(_registered.back());
        }
        return copy;
    }

private:
    std::vector<fs::path> _folders;
    std::vector<std::string> _registered;
};

StreamCopies& Copies()
{
    static StreamCopies copies;
    return copies;
}

// Copies what p_file (standard input for "-") gives into a temporary file named as p_file
// is (standard input: "stdin"), so that the name rule of archives holds for it too.
std::string CopyOfStream(const std::string& p_file)
{
    const std::string name = p_file == "-" ? std::string("stdin") : fs::u8path(p_file).filename().u8string();
    const fs::path copy = Copies().NewCopy(name.empty() ? std::string("stdin") : name);
    std::FILE* in = p_file == "-" ? stdin : std::fopen(p_file.c_str(), "rb");
    if (!in)
        throw Failure(p_file, std::string("cannot read: ") + std::strerror(errno));
    std::string error;
    std::unique_ptr<platform::OutputFile> out = platform::CreateOutputFile(copy.u8string(), error);
    if (!out)
        throw Failure(copy.u8string(), "cannot make a temporary copy: " + error);
    std::vector<char> buffer(std::size_t(1) << 16);
    for (;;) {
        const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), in);
        if (count > 0 && error.empty())
            error = out->Write(buffer.data(), count);
        if (count < buffer.size())
            break;
    }
    const bool readFailed = std::ferror(in) != 0;
    const int readError = errno;
    if (in != stdin)
        std::fclose(in);
    const std::string closed = out->Close();
    if (readFailed)
        throw Failure(p_file, std::string("cannot read: ") + std::strerror(readError));
    if (!error.empty() || !closed.empty())
        throw Failure(copy.u8string(), "cannot make a temporary copy: " + (error.empty() ? closed : error));
    return copy.u8string();
}

} // namespace

void AddArchiveOptions(CLI::App& p_command, ArchiveOptions& p_options)
{
    p_command.add_option("ARCHIVE", p_options.file, "The archive")->required();
    AddKeyOptions(p_command, p_options.key);
    p_command.add_flag("--plain", p_options.plain,
                       "Read the archive as a plain ZIP whatever its name (a name that does not end in zip is "
                       "otherwise read as scrambled)");
}

std::unique_ptr<ArchiveDiagnostics> DiagnoseArchive(ArchiveOptions& p_options)
{
    const std::string& file = p_options.file;
    const bool copied = file == "-" || NeedsCopy(file);
    if (!copied && fs::is_directory(fs::u8path(file)))
        throw Failure(file, "is a directory, not an archive");
    if (!copied && !fs::exists(fs::u8path(file)))
        throw Failure(file, "no such file");
    const std::string key = ResolveKey(p_options.key.text, p_options.key.file);
    p_options.readFrom = copied ? CopyOfStream(file) : file;
    const std::string& read = p_options.readFrom;
    auto diagnostics = std::make_unique<ArchiveDiagnostics>(
        read, key, p_options.plain ? ArchiveDiagnostics::Reading::Plain : ArchiveDiagnostics::Reading::ByName);
    // A stream (standard input, a pipe, a device such as /dev/stdin) has no name to go by: a
    // plain archive there is read as plain.
    const bool stream = copied || file.rfind("/dev/", 0) == 0;
    if (stream && diagnostics->FirstObstacle() == ArchiveDiagnostics::Obstacle::PlainArchive) {
        p_options.plain = true;
        diagnostics = std::make_unique<ArchiveDiagnostics>(read, key, ArchiveDiagnostics::Reading::Plain);
    }
    // The library's sentence, and what to give this program to get past it.
    switch (diagnostics->FirstObstacle()) {
    case ArchiveDiagnostics::Obstacle::Unreadable:
    case ArchiveDiagnostics::Obstacle::WrongKey:
    case ArchiveDiagnostics::Obstacle::NotAnArchive:
        throw Failure(file, diagnostics->Explanation());
    case ArchiveDiagnostics::Obstacle::PlainArchive:
        throw Failure(file, diagnostics->Explanation() + ": read it with --plain (or name it .zip)");
    case ArchiveDiagnostics::Obstacle::KeyMissing:
        throw Failure(file, diagnostics->Explanation() + ": give its key with --key or --key-file");
    default:
        return diagnostics;
    }
}

std::string IncompleteReason(const ArchiveDiagnostics& p_diagnostics)
{
    return p_diagnostics.Incomplete() ? p_diagnostics.Explanation() : std::string();
}

std::vector<const ArchiveDiagnostics::Entry*> InPathOrder(const ArchiveDiagnostics& p_diagnostics)
{
    struct Keyed {
        AssetPath path;
        const ArchiveDiagnostics::Entry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(p_diagnostics.Entries().size());
    for (const ArchiveDiagnostics::Entry& entry : p_diagnostics.Entries())
        keyed.push_back(Keyed{AssetPath(entry.name), &entry});
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const Keyed& p_a, const Keyed& p_b) { return p_a.path < p_b.path; });
    std::vector<const ArchiveDiagnostics::Entry*> ordered;
    ordered.reserve(keyed.size());
    for (const Keyed& item : keyed)
        ordered.push_back(item.entry);
    return ordered;
}

std::string Unopenable(const ArchiveDiagnostics::Entry& p_entry)
{
    if (p_entry.isDirectory)
        return "a directory entry";
    if (p_entry.flags & Zip::FlagEncrypted)
        return "encrypted entry";
    if (p_entry.method == Zip::MethodDeflate)
        return "deflated entry (compressed)";
    if (p_entry.method != Zip::MethodStored)
        return "compressed entry (method " + std::to_string(p_entry.method) + ")";
    if (!p_entry.localValid)
        return "damaged local header";
    if (p_entry.heldSize < p_entry.dataSize)
        return "its data runs past the end of the archive";
    return std::string();
}

bool Readable(const ArchiveDiagnostics::Entry& p_entry)
{
    return Unopenable(p_entry).empty();
}

std::string CrcMismatch(std::uint32_t p_directory, std::uint32_t p_data)
{
    return "CRC-32 mismatch: directory " + Hex32(p_directory) + ", data " + Hex32(p_data);
}

std::string StreamEntry(const ArchiveDiagnostics& p_diagnostics, const ArchiveDiagnostics::Entry& p_entry, bool p_text,
                        const std::function<void(const char*, std::size_t)>& p_sink)
{
    // The CRC-32 is of the bytes as stored; text mode folds them as the volume does.
    ArchiveDiagnostics::DataReading reading;
    reading.text = p_text;
    reading.countCrc = true;
    const ArchiveDiagnostics::DataRead read =
        p_diagnostics.ReadData(p_entry, reading, [&](const char* p_bytes, std::size_t p_count) {
            p_sink(p_bytes, p_count);
            return true;
        });
    if (!read.read)
        return "cannot read its data from the archive";
    if (read.crc32 != p_entry.crc32)
        return CrcMismatch(p_entry.crc32, read.crc32);
    return std::string();
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
