// The host file-system layer over the system calls of HostPlatform.
#include "QorFile.h"

#include "HostPlatform.h"

namespace qorfile {

namespace {

using platform::IsSeparator;

std::string::size_type LastNotSeparator(const std::string& p_text)
{
    for (std::string::size_type i = p_text.size(); i > 0; --i)
        if (!IsSeparator(p_text[i - 1]))
            return i - 1;
    return std::string::npos;
}

} // namespace

pathcomp filepath::name() const
{
    const std::string::size_type end = LastNotSeparator(_text);
    if (end == std::string::npos)
        return pathcomp(_text.empty() ? std::string() : std::string(1, _text[0]));
    std::string::size_type start = end;
    while (start > 0 && !IsSeparator(_text[start - 1]))
        --start;
    return pathcomp(_text.substr(start, end + 1 - start));
}

filepath filepath::operator+(const pathcomp& p_component) const
{
    std::string joined = _text;
    if (!joined.empty() && !IsSeparator(joined.back()))
        joined += '/';
    const std::string& name = p_component.str();
    std::string::size_type first = 0;
    while (first < name.size() && IsSeparator(name[first]))
        ++first;
    joined.append(first == name.size() ? name : name.substr(first));
    return filepath(joined);
}

bool fileexists(const filepath& p_path)
{
    platform::FileStatus status;
    return platform::StatusOf(p_path.str(), status) && !status.directory;
}

bool direxists(const filepath& p_path)
{
    platform::FileStatus status;
    return platform::StatusOf(p_path.str(), status) && status.directory;
}

// The open directory and the entry the iteration stands on; closed at the end of the walk.
struct diriter::Walk {
    explicit Walk(const filepath& p_directory) : reader(p_directory.str()), directory(p_directory) {}

    platform::DirectoryReader reader;
    filepath directory;
    filepath current;

    // Moves to the next entry; false (and the directory closed) at the end.
    bool Advance()
    {
        std::string name;
        if (!reader.Next(name))
            return false;
        current = directory + pathcomp(name);
        return true;
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
    _walk = std::make_shared<Walk>(p_directory);
    if (!_walk->reader.IsOpen() || !_walk->Advance())
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
