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

AssetPath FileSystemVolume::Resolve(const AssetPath& p_path) const
{
    return _source + p_path.RelativeTo(_target);
}

// A directory, else a file that opens for reading in text mode as a file stream would open it
// (by the UTF-8 path); Exists, Open and the mount table's lookup all come here.
AssetVolume::Found FileSystemVolume::Find(const AssetPath& p_path) const
{
    Found found;
    found.hostPath = Resolve(p_path).str();
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
    found.hostPath = Resolve(p_path).str();
    return OpenFound(found, p_mode);
}

// Whatever Find found: a directory fails the stream check as a missing file does.
boost::shared_ptr<std::istream> FileSystemVolume::OpenFound(const Found& p_found, OpenMode p_mode) const
{
    std::ios_base::openmode flags = std::ios_base::in;
    if (p_mode == Binary)
        flags |= std::ios_base::binary;
    else
        Check(p_mode == Text, Messages::DirectoryModeNotText);

    std::unique_ptr<std::istream> stream = OpenFileStream(p_found.hostPath.c_str(), flags);
    Check(stream->good(), Messages::DirectoryStreamFailed);
    return boost::shared_ptr<std::istream>(stream.release());
}

// ---------------------------------------------------------------------------------------
// Listing.

std::vector<ListedChild> FileSystemVolume::Children(const AssetPath& p_directory) const
{
    std::vector<ListedChild> children;
    for (qorfile::diriter entry(qorfile::filepath(Resolve(p_directory).str())), end; entry != end; ++entry) {
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
