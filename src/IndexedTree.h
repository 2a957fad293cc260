// IndexedTree: what one directory tree on disk holds, kept in memory and kept current from
// the platform's notices, for the indexed directory volume.
//
// Every question first reads the notices queued so far (never waiting) and applies them: each
// noticed path is looked at on disk afresh and its entry (a directory with all below it) put
// right. A notifier whose notices are queued before the changing call returns (an immediate
// notifier, or a subscription to the library's NotifierHub, which is one shared) makes every
// answer what the disk says at the moment of the call.
// Where the index cannot promise that, it answers Disk and the caller asks the disk itself:
// for an entry it cannot watch or tell (a symbolic link and all below it, a file that does not
// open for reading, another kind of file, a directory of another file system, one that cannot
// be watched or listed) and, for the whole tree, when it is given no such notifier, the tree is on
// a remote or user-space file system, the root is relative (the working directory may change)
// or goes, the watch limit is reached. Lost notices (a full queue) make the index read the
// whole tree again before it answers. The index locks itself: any thread may ask.
#pragma once

#include <Assets/Listing.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <cstdint>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

class WatchNotifier;

class IndexedTree {
public:
    // p_root: the directory's host path, '/' separating. p_notifier: an immediate notifier
    // the tree alone asks for directories and takes notices from, owned by the tree; null
    // where there is none.
    IndexedTree(std::string p_root, std::unique_ptr<WatchNotifier> p_notifier);
    ~IndexedTree();

    enum Answer { Absent, Directory, File, Disk };

    // What lies at p_relative below the root ('/' separating, no empty or "." component; the
    // empty text is the root itself).
    Answer Look(std::string_view p_relative);
    // The direct children of the directory at p_relative, in byte order of their names, as
    // FileSystemVolume lists them; false when the disk must be asked instead.
    bool Children(std::string_view p_relative, std::vector<ListedChild>& p_children);

private:
    struct Node {
        std::string path; // relative to the root
        Answer kind = Absent;
        std::set<std::string> children; // names, for a Directory
    };

    void Update();
    void ScanBelow(const std::string& p_relative);
    Answer Classify(const std::string& p_relative, std::filesystem::file_type p_type) const;
    void Rescan();
    void GiveUp();
    void Apply(const std::string& p_hostPath);
    void Remove(const std::string& p_relative);
    // Enters what lies at p_relative now (scanning a directory's tree) into the index; its
    // parent is in the index as a directory.
    void Enter(const std::string& p_relative);
    Node& Add(const std::string& p_relative, Answer p_kind);
    // Every answer's opening: the index brought up to date, or false when the disk answers.
    bool Current();
    // The index's answer for p_relative, with its node where it has one (else null).
    Answer Known(std::string_view p_relative, const Node*& p_node) const;
    Answer Below(std::string_view p_relative) const;
    std::string HostPath(std::string_view p_relative) const;

    const std::string _root;
    std::mutex _mutex;
    std::unique_ptr<WatchNotifier> _notifier; // null once the disk answers for the whole tree
    std::uint64_t _device = 0;                // the root's file system and identity
    std::uint64_t _identity = 0;
    std::unordered_map<std::string_view, std::unique_ptr<Node>> _nodes; // keyed by Node::path
    std::size_t _diskNodes = 0;                                         // the nodes whose kind is Disk
    std::vector<std::string> _notices;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
