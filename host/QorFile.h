// Host file-system paths, path components, directory iteration and existence tests.
//
// A filepath keeps its text exactly as given: it is never resolved against the current
// directory and its separators are not rewritten. Joining a component puts one '/' at the
// seam unless the path ends in a separator already ('/', and on Windows '\' as well, which
// also splits off name()). The text is UTF-8 on every host. The asset library turns a
// filepath into an AssetPath by its text, so the text is the whole contract.
#pragma once

#include "QorHostExport.h"

#include <memory>
#include <string>

namespace qorfile {

// One component of a path: a file or directory name.
class QOR_HOST_API pathcomp {
public:
    pathcomp() = default;
    explicit pathcomp(const std::string& p_text) : _text(p_text) {}
    const std::string& str() const { return _text; }

private:
    std::string _text;
};

class QOR_HOST_API filepath {
public:
    filepath() = default;
    filepath(const std::string& p_text) : _text(p_text) {}

    // The whole path as text, as it was given.
    std::string str() const { return _text; }
    // The last component; trailing separators are not part of it.
    pathcomp name() const;
    // False for the empty path.
    bool valid() const { return !_text.empty(); }
    // The child named by p_component, with exactly one separator at the seam.
    filepath operator+(const pathcomp& p_component) const;

    bool operator<(const filepath& p_other) const { return _text < p_other._text; }
    bool operator==(const filepath& p_other) const { return _text == p_other._text; }

private:
    std::string _text;
};

// True when the path names an existing entry that is not a directory.
QOR_HOST_API bool fileexists(const filepath& p_path);
// True when the path names an existing directory.
QOR_HOST_API bool direxists(const filepath& p_path);

// Input iterator over the entries of one directory. Each entry is the directory's path joined
// with the entry's name. '.' and '..' are never yielded; a missing or unreadable directory
// yields nothing. A default-constructed iterator is the end of every iteration. Copies share
// one position, as input iterators do.
class QOR_HOST_API diriter {
public:
    diriter();
    explicit diriter(const filepath& p_directory);
    ~diriter();
    diriter(const diriter&);
    diriter& operator=(const diriter&);

    diriter& operator++();
    bool operator!=(const diriter& p_other) const;
    bool operator==(const diriter& p_other) const { return !(*this != p_other); }
    const filepath& operator*() const;
    const filepath* operator->() const;

private:
    struct QOR_HOST_LOCAL Walk;
    std::shared_ptr<Walk> _walk;
};

} // namespace qorfile
