// The directory volume: resolve against the source directory, test, open.
#include <Assets/FileSystemVolume.h>

#include "Check.h"
#include "FileStream.h"
#include "Messages.h"

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

bool FileSystemVolume::Exists(const AssetPath& p_path) const
{
    AssetPath resolved = Resolve(p_path);
    if (qorfile::direxists(qorfile::filepath(resolved.str())))
        return true;
    std::ifstream file(static_cast<const char*>(resolved));
    return file.good();
}

boost::shared_ptr<std::istream> FileSystemVolume::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    AssetPath resolved = Resolve(p_path);
    std::ios_base::openmode flags = std::ios_base::in;
    if (p_mode == Binary)
        flags |= std::ios_base::binary;
    else
        Check(p_mode == Text, Messages::DirectoryModeNotText);

    std::unique_ptr<std::istream> stream = OpenFileStream(resolved, flags);
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
