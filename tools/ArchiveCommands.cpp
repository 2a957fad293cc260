// draxel-assets ls, check and extract: one archive file read as a volume at the root.
#include "Commands.h"
#include "ToolSupport.h"

#include <Assets/ArchiveVolume.h>

#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace draxel_tool {

namespace fs = std::filesystem;
using namespace Qor::Draxel::Assets;

namespace {

// An archive file opened as a volume at the root; reports are handled by the caller's mode.
std::unique_ptr<ArchiveVolume> OpenArchive(const std::string& p_file, const std::string& p_key, Reports& p_reports)
{
    if (fs::is_directory(p_file))
        throw Failure(p_file, "is a directory, not an archive");
    if (!fs::is_regular_file(p_file))
        throw Failure(p_file, "no such file");
    p_reports.SetSubject(p_file);
    return std::make_unique<ArchiveVolume>(AssetPath(qorfile::filepath(p_file)), AssetPath(), 0, p_key);
}

// Prints collected reports as error lines; true when there were any.
bool PrintReports(Reports& p_reports, const std::string& p_subject)
{
    const std::vector<std::string> reports = p_reports.Take();
    for (const std::string& report : reports)
        PrintError(p_subject, report);
    return !reports.empty();
}

// The bytes of one entry as Open gives them; an entry of size 0 gives none.
bool ReadEntryWhole(const ArchiveVolume& p_volume, const AssetPath& p_path, std::string& p_bytes)
{
    boost::shared_ptr<std::istream> stream;
    try {
        stream = p_volume.Open(p_path, Volume::Binary);
    } catch (const std::out_of_range&) {
        p_bytes.clear();
        return true;
    }
    if (!stream)
        return false;
    std::ostringstream bytes;
    bytes << stream->rdbuf();
    p_bytes = bytes.str();
    return true;
}

std::uint32_t Crc32(const std::string& p_bytes)
{
    uLong crc = ::crc32(0L, Z_NULL, 0);
    const Bytef* data = reinterpret_cast<const Bytef*>(p_bytes.data());
    std::size_t left = p_bytes.size();
    while (left > 0) {
        const uInt chunk = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
        crc = ::crc32(crc, data, chunk);
        data += chunk;
        left -= chunk;
    }
    return static_cast<std::uint32_t>(crc);
}

std::string MethodName(std::uint16_t p_method)
{
    if (p_method == 0)
        return "stored";
    if (p_method == 8)
        return "deflate";
    return "method" + std::to_string(p_method);
}

std::string Hex32(std::uint32_t p_value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIx32, p_value);
    return text;
}

int ListArchive(const std::string& p_file, const KeyOptions& p_key, bool p_long)
{
    const std::string key = ResolveKey(p_key.text, p_key.file);
    Reports reports(Reports::Collect);
    std::unique_ptr<ArchiveVolume> volume = OpenArchive(p_file, key, reports);
    const std::vector<ArchiveVolume::ListedEntry> entries = volume->Entries();
    if (p_long)
        std::cout << "type method   flags       packed         size    crc32     offset  name\n";
    for (const ArchiveVolume::ListedEntry& entry : entries) {
        if (!p_long) {
            std::cout << entry.storedName << '\n';
            continue;
        }
        const char* type = entry.isFile ? (entry.isDirectory ? "f+d " : "file") : "dir ";
        char line[160];
        if (entry.isFile)
            std::snprintf(line, sizeof line, "%s %-8s %-5s %12" PRIu64 " %12" PRIu64 " %s %10" PRIu64 "  ", type,
                          MethodName(entry.method).c_str(), entry.encrypted ? "E" : "-", entry.compressedSize,
                          entry.uncompressedSize, Hex32(entry.crc32).c_str(), entry.localHeaderOffset);
        else
            std::snprintf(line, sizeof line, "%s %-8s %-5s %12s %12s %8s %10s  ", type, "-", "-", "-", "-", "-", "-");
        std::cout << line << entry.storedName << '\n';
    }
    std::cout << std::flush;
    return PrintReports(reports, p_file) ? Failed : Success;
}

// The expressions of the two walk reports that check repeats per entry.
const char* const UnknownMethodReport =
    "\"(!compressed || compressedUsingDeflate) && \"ERROR: Compression method unsupported\"\" - ";
const char* const EncryptedReport = "\"!encrypted && \"ERROR: Encryption not yet supported\"\" - ";

int CheckArchive(const std::string& p_file, const KeyOptions& p_key)
{
    const std::string key = ResolveKey(p_key.text, p_key.file);
    Reports reports(Reports::Collect);
    std::unique_ptr<ArchiveVolume> volume = OpenArchive(p_file, key, reports);
    std::size_t problems = 0;
    for (const std::string& report : reports.Take()) {
        // Entries of an unknown method or encrypted are reported below, by name.
        if (report == Explain(UnknownMethodReport) || report == Explain(EncryptedReport))
            continue;
        PrintError(p_file, report);
        ++problems;
    }

    const std::vector<ArchiveVolume::ListedEntry> entries = volume->Entries();
    std::size_t files = 0;
    Progress progress("checking", entries.size());
    for (const ArchiveVolume::ListedEntry& entry : entries) {
        progress.Step();
        if (!entry.isFile)
            continue;
        ++files;
        const std::string subject = p_file + ": " + entry.storedName;
        auto problem = [&](const std::string& p_message) {
            PrintError(subject, p_message);
            ++problems;
        };
        if (entry.method == 8) {
            problem("deflated entry: only stored entries can be opened");
            continue;
        }
        if (entry.method != 0) {
            problem("unknown compression method " + std::to_string(entry.method));
            continue;
        }
        if (entry.encrypted) {
            problem("encrypted entry: its data cannot be checked");
            continue;
        }
        std::string bytes;
        const bool read = ReadEntryWhole(*volume, entry.path, bytes);
        const std::vector<std::string> openReports = reports.Take();
        for (const std::string& report : openReports)
            problem(report);
        if (!read || !openReports.empty())
            continue;
        if (bytes.size() != entry.uncompressedSize)
            problem("size " + std::to_string(bytes.size()) + " in the local header, " +
                    std::to_string(entry.uncompressedSize) + " in the directory");
        const std::uint32_t crc = Crc32(bytes);
        if (crc != entry.crc32)
            problem("CRC-32 mismatch: directory " + Hex32(entry.crc32) + ", data " + Hex32(crc));
    }
    std::cout << p_file << ": " << files << (files == 1 ? " file" : " files") << " checked, "
              << (problems == 0 ? std::string("no problems") : std::to_string(problems) + " problem(s)") << std::endl;
    return problems == 0 ? Success : Failed;
}

// Why a stored name would land outside the extraction directory; empty when it is safe.
std::string HostileName(const std::string& p_name)
{
    if (p_name.empty())
        return "empty name";
    if (p_name.front() == '/' || p_name.front() == '\\')
        return "absolute name";
    if (p_name.size() >= 2 && std::isalpha(static_cast<unsigned char>(p_name[0])) && p_name[1] == ':')
        return "name with a drive letter";
    std::size_t begin = 0;
    while (begin <= p_name.size()) {
        std::size_t end = p_name.find_first_of("/\\", begin);
        if (end == std::string::npos)
            end = p_name.size();
        if (p_name.compare(begin, end - begin, "..") == 0)
            return "name with a '..' component";
        begin = end + 1;
    }
    return std::string();
}

int ExtractArchive(const std::string& p_file, const std::string& p_directory, const KeyOptions& p_key)
{
    const std::string key = ResolveKey(p_key.text, p_key.file);
    Reports reports(Reports::Collect);
    std::unique_ptr<ArchiveVolume> volume = OpenArchive(p_file, key, reports);
    bool failed = PrintReports(reports, p_file);

    std::error_code error;
    fs::create_directories(p_directory, error);
    if (!fs::is_directory(p_directory))
        throw Failure(p_directory, "cannot create the directory");

    const std::vector<ArchiveVolume::ListedEntry> entries = volume->Entries();
    std::size_t written = 0;
    Progress progress("extracting", entries.size());
    for (const ArchiveVolume::ListedEntry& entry : entries) {
        progress.Step();
        const std::string subject = p_file + ": " + entry.storedName;
        const std::string hostile = HostileName(entry.storedName);
        if (!hostile.empty()) {
            PrintError(subject, "refused, " + hostile + " would land outside " + p_directory);
            failed = true;
            continue;
        }
        const fs::path target = fs::path(p_directory) / fs::path(entry.path.str());
        if (!entry.isFile) {
            fs::create_directories(target, error);
            continue;
        }
        if (entry.method != 0) {
            PrintError(subject, entry.method == 8 ? "deflated entry: only stored entries can be extracted"
                                                  : "unknown compression method " + std::to_string(entry.method));
            failed = true;
            continue;
        }
        std::string bytes;
        const bool read = ReadEntryWhole(*volume, entry.path, bytes);
        if (PrintReports(reports, subject) || !read) {
            failed = true;
            continue;
        }
        fs::create_directories(target.parent_path(), error);
        std::ofstream out(target, std::ios_base::binary | std::ios_base::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            PrintError(subject, "cannot write " + target.string());
            failed = true;
            continue;
        }
        ++written;
    }
    std::cout << p_file << ": " << written << (written == 1 ? " file" : " files") << " extracted into "
              << p_directory << std::endl;
    return failed ? Failed : Success;
}

} // namespace

void AddArchiveCommands(CommandSet& p_commands)
{
    struct Options {
        std::string file;
        std::string directory;
        KeyOptions key;
        bool longListing = false;
    };
    auto ls = std::make_shared<Options>();
    CLI::App* lsCommand = p_commands.Add("ls", "List the entries of an archive",
                                         [ls] { return ListArchive(ls->file, ls->key, ls->longListing); });
    lsCommand->add_option("ARCHIVE", ls->file, "The archive")->required();
    AddKeyOptions(*lsCommand, ls->key);
    lsCommand->add_flag("-l,--long", ls->longListing, "Show type, method, flags, sizes, CRC-32 and offset");

    auto check = std::make_shared<Options>();
    CLI::App* checkCommand = p_commands.Add("check", "Verify every stored entry against its CRC-32",
                                            [check] { return CheckArchive(check->file, check->key); });
    checkCommand->add_option("ARCHIVE", check->file, "The archive")->required();
    AddKeyOptions(*checkCommand, check->key);

    auto extract = std::make_shared<Options>();
    CLI::App* extractCommand =
        p_commands.Add("extract", "Write the entries of an archive below a directory",
                       [extract] { return ExtractArchive(extract->file, extract->directory, extract->key); });
    extractCommand->add_option("ARCHIVE", extract->file, "The archive")->required();
    extractCommand->add_option("DIR", extract->directory, "The directory to write into (created when missing)")
        ->required();
    AddKeyOptions(*extractCommand, extract->key);
}

} // namespace draxel_tool
