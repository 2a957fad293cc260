// The kept index of a directory tree: the scan, the notices applied path by path (each path
// looked at afresh, so the order and kind of the notices do not matter), and the answers.
#include "IndexedTree.h"

#include "Platform.h"
#include "WatchNotifier.h"

#include <QorFile.h>

#include <algorithm>
#include <system_error>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

std::string Join(std::string_view p_directory, std::string_view p_name)
{
    std::string path(p_directory);
    if (!path.empty())
        path += '/';
    path += p_name;
    return path;
}

std::string_view ParentOf(std::string_view p_relative)
{
    const std::size_t slash = p_relative.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : p_relative.substr(0, slash);
}

std::string NameOf(std::string_view p_relative)
{
    const std::size_t slash = p_relative.rfind('/');
    return std::string(slash == std::string_view::npos ? p_relative : p_relative.substr(slash + 1));
}

} // namespace

IndexedTree::IndexedTree(std::string p_root, std::unique_ptr<WatchNotifier> p_notifier)
    : _root(std::move(p_root)), _notifier(std::move(p_notifier))
{
    const std::lock_guard<std::mutex> lock(_mutex);
    if (!_notifier)
        return;
    const FileSignature root = SignatureOf(_root);
    _device = root.device;
    _identity = root.file;
    Rescan();
}

IndexedTree::~IndexedTree() = default;

std::string IndexedTree::HostPath(std::string_view p_relative) const
{
    if (p_relative.empty())
        return _root;
    std::string path = _root;
    if (path.back() != '/')
        path += '/';
    path += p_relative;
    return path;
}

void IndexedTree::GiveUp()
{
    _notifier.reset();
    _nodes.clear();
    _diskNodes = 0;
}

// The whole tree read again, watched before it is listed so that nothing changed meanwhile
// goes unnoticed. The directories above the root are watched too: renaming one of them moves
// the root away without a word from the root's own watches.
void IndexedTree::Rescan()
{
    _notifier->Clear();
    _nodes.clear();
    _diskNodes = 0;
    const FileSignature root = SignatureOf(_root);
    if (!Platform::FileSystemPath(_root).is_absolute() || root.kind != FileSignature::Directory ||
        root.device != _device || root.file != _identity || !_notifier->Complete(_root)) {
        GiveUp();
        return;
    }
    for (std::string above = _root; above.size() > 1;) {
        const std::size_t slash = above.rfind('/', above.size() - 2);
        if (slash == std::string::npos)
            break;
        above.resize(slash == 0 ? 1 : slash);
        if (!_notifier->WatchDirectory(above) || !_notifier->Watching(above)) {
            GiveUp();
            return;
        }
    }
    Add(std::string(), Directory);
    ScanBelow(std::string());
}

IndexedTree::Node& IndexedTree::Add(const std::string& p_relative, Answer p_kind)
{
    // A node's key is a view of its own path: an entry is never replaced in place.
    Remove(p_relative);
    auto node = std::make_unique<Node>();
    node->path = p_relative;
    node->kind = p_kind;
    if (p_kind == Disk)
        ++_diskNodes;
    Node& added = *node;
    _nodes[added.path] = std::move(node);
    if (!p_relative.empty()) {
        const std::string_view parent = ParentOf(p_relative);
        _nodes.at(parent)->children.insert(NameOf(p_relative));
    }
    return added;
}

// What the plain volume would find, told without asking for a directory's content: a
// regular file that opens for reading in text mode, a directory on the root's file system.
// Everything else is left to the disk.
IndexedTree::Answer IndexedTree::Classify(const std::string& p_relative, std::filesystem::file_type p_type) const
{
    const std::string host = HostPath(p_relative);
    if (p_type == std::filesystem::file_type::regular) {
        std::filebuf file;
        return Platform::OpenFileBuffer(file, host.c_str(), std::ios_base::in) ? File : Disk;
    }
    if (p_type == std::filesystem::file_type::directory) {
        const FileSignature signature = SignatureOf(host);
        return signature.kind == FileSignature::Directory && signature.device == _device ? Directory : Disk;
    }
    return p_type == std::filesystem::file_type::not_found ? Absent : Disk;
}

// Every directory below p_relative (in the index as a directory), watched and then listed.
void IndexedTree::ScanBelow(const std::string& p_relative)
{
    std::vector<std::string> pending{p_relative};
    while (!pending.empty()) {
        const std::string directory = std::move(pending.back());
        pending.pop_back();
        const std::string host = HostPath(directory);
        if (!_notifier->WatchDirectory(host)) {
            GiveUp(); // the watch limit: nothing more can be watched
            return;
        }
        std::error_code error;
        std::filesystem::directory_iterator entry(Platform::FileSystemPath(host), error), end;
        if (error || !_notifier->Watching(host)) {
            Node& node = *_nodes.at(directory);
            if (node.kind != Disk)
                ++_diskNodes;
            node.kind = Disk;
            node.children.clear();
            continue;
        }
        for (; entry != end; entry.increment(error)) {
            const std::string path = Join(directory, entry->path().filename().string());
            const Answer kind = Classify(path, entry->symlink_status(error).type());
            if (kind == Absent)
                continue;
            Add(path, kind);
            if (kind == Directory)
                pending.push_back(path);
        }
        if (error) {
            Remove(directory);
            Add(directory, Disk);
        }
    }
}

void IndexedTree::Remove(const std::string& p_relative)
{
    auto found = _nodes.find(p_relative);
    if (found == _nodes.end())
        return;
    if (!p_relative.empty()) {
        auto parent = _nodes.find(ParentOf(p_relative));
        if (parent != _nodes.end())
            parent->second->children.erase(NameOf(p_relative));
    }
    std::vector<std::string> doomed{p_relative};
    while (!doomed.empty()) {
        auto node = _nodes.find(doomed.back());
        doomed.pop_back();
        if (node == _nodes.end())
            continue;
        for (const std::string& name : node->second->children)
            doomed.push_back(Join(node->second->path, name));
        if (node->second->kind == Disk)
            --_diskNodes;
        _nodes.erase(node);
    }
}

void IndexedTree::Enter(const std::string& p_relative)
{
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::symlink_status(Platform::FileSystemPath(HostPath(p_relative)), error);
    const Answer kind = Classify(p_relative, status.type());
    if (kind == Absent)
        return;
    Add(p_relative, kind);
    if (kind == Directory)
        ScanBelow(p_relative);
}

// One noticed host path. The root itself, or a directory on the way to it, makes the whole
// tree read again (or left to the disk when the root is no longer the directory it was).
void IndexedTree::Apply(const std::string& p_hostPath)
{
    const std::string prefix = _root.back() == '/' ? _root : _root + '/';
    if (p_hostPath.compare(0, prefix.size(), prefix) != 0) {
        const std::string above = p_hostPath.back() == '/' ? p_hostPath : p_hostPath + '/';
        if (p_hostPath == _root || prefix.compare(0, above.size(), above) == 0)
            Rescan();
        return;
    }
    const std::string relative = p_hostPath.substr(prefix.size());
    auto parent = _nodes.find(ParentOf(relative));
    if (parent == _nodes.end() || parent->second->kind != Directory)
        return; // below an entry left to the disk, or below one that is gone
    Remove(relative);
    Enter(relative);
}

void IndexedTree::Update()
{
    _notices.clear();
    const WatchNotifier::Outcome outcome = _notifier->Take(_notices);
    if (outcome == WatchNotifier::Quiet)
        return;
    if (outcome != WatchNotifier::Changed) {
        Rescan();
        return;
    }
    std::sort(_notices.begin(), _notices.end());
    _notices.erase(std::unique(_notices.begin(), _notices.end()), _notices.end());
    for (const std::string& notice : _notices) {
        Apply(notice);
        if (!_notifier)
            return;
    }
}

IndexedTree::Answer IndexedTree::Below(std::string_view p_relative) const
{
    // Only an entry left to the disk makes a path the index lacks anything but absent: most
    // trees have none, and then a miss costs one probe.
    if (_diskNodes == 0)
        return Absent;
    while (!p_relative.empty()) {
        p_relative = ParentOf(p_relative);
        auto found = _nodes.find(p_relative);
        if (found != _nodes.end())
            return found->second->kind == Disk ? Disk : Absent;
    }
    return Absent;
}

bool IndexedTree::Current()
{
    if (_notifier)
        Update();
    return _notifier != nullptr;
}

IndexedTree::Answer IndexedTree::Known(std::string_view p_relative, const Node*& p_node) const
{
    auto found = _nodes.find(p_relative);
    p_node = found != _nodes.end() ? found->second.get() : nullptr;
    return p_node ? p_node->kind : Below(p_relative);
}

IndexedTree::Answer IndexedTree::Look(std::string_view p_relative)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    if (!Current())
        return Disk;
    const Node* node = nullptr;
    return Known(p_relative, node);
}

bool IndexedTree::Children(std::string_view p_relative, std::vector<ListedChild>& p_children)
{
    const std::lock_guard<std::mutex> lock(_mutex);
    if (!Current())
        return false;
    const Node* node = nullptr;
    const Answer kind = Known(p_relative, node);
    if (kind == Disk)
        return false;
    if (kind != Directory)
        return true;
    const Node& directory = *node;
    for (const std::string& name : directory.children) {
        const std::string path = Join(directory.path, name);
        const Answer child = _nodes.at(path)->kind;
        ListedChild listed;
        listed.name = name;
        listed.isDirectory =
            child == Directory || (child == Disk && qorfile::direxists(qorfile::filepath(HostPath(path))));
        listed.isFile = !listed.isDirectory;
        p_children.push_back(std::move(listed));
    }
    return true;
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
