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

bool FileSystemVolume::Exists(const AssetPath& p_path) const
{
    AssetPath resolved;
    if (!Resolve(p_path, resolved))
        return false;
    if (qorfile::direxists(qorfile::filepath(resolved.str())))
        return true;
    // Opened for reading in text mode as a file stream would be, by the UTF-8 path.
    std::filebuf file;
    return Platform::OpenFileBuffer(file, resolved, std::ios_base::in);
}

boost::shared_ptr<std::istream> FileSystemVolume::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    AssetPath resolved;
    const bool inside = Resolve(p_path, resolved);
    std::ios_base::openmode flags = std::ios_base::in;
    if (p_mode == Binary)
        flags |= std::ios_base::binary;
    else
        Check(p_mode == Text, Messages::DirectoryModeNotText);

    // A path that would leave the directory fails as a missing file does.
    std::unique_ptr<std::istream> stream = inside ? OpenFileStream(resolved, flags) : FailedFileStream();
    Check(stream->good(), Messages::DirectoryStreamFailed);
    return boost::shared_ptr<std::istream>(stream.release());
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
