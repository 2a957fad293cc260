// POSIX implementation of the host file-system layer.
#include "QorFile.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

namespace qorfile {

namespace {

bool StatPath(const filepath& p_path, struct stat& p_info)
{
    const std::string text = p_path.str();
    return !text.empty() && ::stat(text.c_str(), &p_info) == 0;
}

} // namespace

pathcomp filepath::name() const
{
    std::string::size_type end = _text.find_last_not_of('/');
    if (end == std::string::npos)
        return pathcomp(_text.empty() ? std::string() : std::string("/"));
    std::string::size_type slash = _text.rfind('/', end);
    std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
    return pathcomp(_text.substr(start, end + 1 - start));
}

filepath filepath::operator+(const pathcomp& p_component) const
{
    std::string joined = _text;
    if (!joined.empty() && joined.back() != '/')
        joined += '/';
    const std::string& name = p_component.str();
    std::string::size_type first = name.find_first_not_of('/');
    joined.append(first == std::string::npos ? name : name.substr(first));
    return filepath(joined);
}

bool fileexists(const filepath& p_path)
{
    struct stat info;
    return StatPath(p_path, info) && !S_ISDIR(info.st_mode);
}

bool direxists(const filepath& p_path)
{
    struct stat info;
    return StatPath(p_path, info) && S_ISDIR(info.st_mode);
}

// The open directory and the entry the iteration stands on; closed at the end of the walk.
struct diriter::Walk {
    DIR* handle = nullptr;
    filepath directory;
    filepath current;

    ~Walk()
    {
        if (handle)
            ::closedir(handle);
    }

    // Moves to the next entry; false (and the directory closed) at the end.
    bool Advance()
    {
        while (handle) {
            dirent* entry = ::readdir(handle);
            if (!entry) {
                ::closedir(handle);
                handle = nullptr;
                break;
            }
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            current = directory + pathcomp(entry->d_name);
            return true;
        }
        return false;
    }
};

diriter::diriter() = default;
diriter::~diriter() = default;
diriter::diriter(const diriter&) = default;
diriter& diriter::operator=(const diriter&) = default;

diriter::diriter(const filepath& p_directory)
{
    if (!p_directory.valid())
        return;
    DIR* handle = ::opendir(p_directory.str().c_str());
    if (!handle)
        return;
    _walk = std::make_shared<Walk>();
    _walk->handle = handle;
    _walk->directory = p_directory;
    if (!_walk->Advance())
        _walk.reset();
}

diriter& diriter::operator++()
{
    if (_walk && !_walk->Advance())
        _walk.reset();
    return *this;
}

bool diriter::operator!=(const diriter& p_other) const
{
    return _walk != p_other._walk;
}

const filepath& diriter::operator*() const
{
    static const filepath end;
    return _walk ? _walk->current : end;
}

const filepath* diriter::operator->() const
{
    return &**this;
}

} // namespace qorfile
