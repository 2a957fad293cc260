// The directory volume: resolve against the source directory, test, open.
#include <Assets/FileSystemVolume.h>

#include "Check.h"
#include "FileStream.h"
#include "Messages.h"
#include "Platform.h"

#include <algorithm>
#include <fstream>

namespace Qor {
namespace Draxel {
namespace Assets {

FileSystemVolume::FileSystemVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority)
    : AssetVolume(p_source, p_target, p_priority)
{
}

FileSystemVolume::~FileSystemVolume() = default;

boost::shared_ptr<Volume> FileSystemVolume::Open(const qorfile::filepath& p_source)
{
    return boost::shared_ptr<Volume>(new FileSystemVolume(AssetPath(p_source), AssetPath(), 0));
}

bool FileSystemVolume::Resolve(const AssetPath& p_path, AssetPath& p_resolved) const
{
    const AssetPath relative = p_path.RelativeTo(_target);
    if (Platform::LeavesDirectory(static_cast<const char*>(relative)))
        return false;
    p_resolved = _source + relative;
    return true;
}

// A directory, else a file that opens for reading in text mode as a file stream would open it
// (by the UTF-8 path); Exists, Open and the mount table's lookup all come here.
AssetVolume::Found FileSystemVolume::Find(const AssetPath& p_path) const
{
    Found found;
    AssetPath resolved;
    if (!Resolve(p_path, resolved))
        return found;
    found.hostPath = resolved.str();
    if (qorfile::direxists(qorfile::filepath(found.hostPath))) {
        found.kind = Found::Directory;
        return found;
    }
    std::filebuf file;
    if (Platform::OpenFileBuffer(file, found.hostPath.c_str(), std::ios_base::in))
        found.kind = Found::File;
    return found;
}

bool FileSystemVolume::Exists(const AssetPath& p_path) const
{
    return Find(p_path).kind != Found::Absent;
}

boost::shared_ptr<std::istream> FileSystemVolume::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    Found found;
    AssetPath resolved;
    if (Resolve(p_path, resolved))
        found.hostPath = resolved.str();
    return OpenFound(found, p_mode);
}

// Whatever Find found: a directory fails the stream check as a missing file does, and so does
// a path that would leave the directory (no host path), without touching the disk.
boost::shared_ptr<std::istream> FileSystemVolume::OpenFound(const Found& p_found, OpenMode p_mode) const
{
    std::ios_base::openmode flags = std::ios_base::in;
    if (p_mode == Binary)
        flags |= std::ios_base::binary;
    else
        Check(p_mode == Text, Messages::DirectoryModeNotText);

    std::unique_ptr<std::istream> stream =
        p_found.hostPath.empty() ? FailedFileStream() : OpenFileStream(p_found.hostPath.c_str(), flags);
    Check(stream->good(), Messages::DirectoryStreamFailed);
    return boost::shared_ptr<std::istream>(stream.release());
}

// ---------------------------------------------------------------------------------------
// The read into the caller's memory: Open's checks in Open's order, then the bytes Open's
// stream would give. Text mode (and a mode that is neither) reads Open's own stream, as every
// volume without a read of its own does; Binary reads the file by position, without a stream.

std::optional<std::uint64_t> FileSystemVolume::Read(const AssetPath& p_path, OpenMode p_mode, char* p_buffer,
                                                    std::size_t p_capacity) const
{
    if (p_mode != Binary)
        return Volume::Read(p_path, p_mode, p_buffer, p_capacity);

    // A path that would leave the directory fails as a missing file does; a directory opens
    // as no file here either (Platform::FileLength refuses it).
    AssetPath resolved;
    const bool inside = Resolve(p_path, resolved);
    Platform::FileHandle file = inside ? Platform::OpenForReading(resolved) : Platform::NoFile;
    std::int64_t length = 0;
    const bool opened = file != Platform::NoFile && Platform::FileLength(file, length);
    if (!Check(opened, Messages::DirectoryStreamFailed)) {
        Platform::CloseFile(file);
        return std::nullopt;
    }
    // Read to the end of the file or of the caller's memory, whichever comes first: a file
    // that grew since it was measured, or whose length the system does not tell, is read as
    // a stream would read it.
    std::uint64_t count = 0;
    std::ptrdiff_t got = 1;
    while (count < p_capacity && got > 0) {
        got = Platform::PositionedRead(file, p_buffer + count, p_capacity - count, static_cast<std::int64_t>(count));
        if (got > 0)
            count += static_cast<std::uint64_t>(got);
    }
    if (count == p_capacity && got > 0) {
        if (length > static_cast<std::int64_t>(count)) {
            count = static_cast<std::uint64_t>(length);
        } else {
            char scratch[4096];
            while ((got = Platform::PositionedRead(file, scratch, sizeof scratch, static_cast<std::int64_t>(count))) >
                   0)
                count += static_cast<std::uint64_t>(got);
        }
    }
    Platform::CloseFile(file);
    return count;
}

std::optional<std::uint64_t> FileSystemVolume::Size(const AssetPath& p_path, OpenMode p_mode) const
{
    return Read(p_path, p_mode, nullptr, 0);
}

// ---------------------------------------------------------------------------------------
// Listing.

std::vector<ListedChild> FileSystemVolume::Children(const AssetPath& p_directory) const
{
    std::vector<ListedChild> children;
    AssetPath resolved;
    if (!Resolve(p_directory, resolved))
        return children;
    for (qorfile::diriter entry(qorfile::filepath(resolved.str())), end; entry != end; ++entry) {
        ListedChild child;
        child.name = entry->name().str();
        child.isDirectory = qorfile::direxists(*entry);
        child.isFile = !child.isDirectory;
        children.push_back(std::move(child));
    }
    std::sort(children.begin(), children.end(),
              [](const ListedChild& p_left, const ListedChild& p_right) { return p_left.name < p_right.name; });
    return children;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
