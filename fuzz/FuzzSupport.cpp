// Shared pieces of the fuzz targets.
#include "FuzzSupport.h"

#include <QorDraxelUtility.h>

#include <boost/make_shared.hpp>

#include <sstream>

namespace fuzz_support {

namespace {

std::size_t g_ensures = 0;

std::uint32_t Get(const std::string& p_bytes, std::size_t p_offset, int p_width)
{
    std::uint32_t value = 0;
    for (int i = p_width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(p_bytes[p_offset + i]);
    return value;
}

std::string Plain(const std::string& p_archive, const std::string& p_key)
{
    if (p_key.empty())
        return p_archive;
    std::string plain = p_archive;
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(plain[i] ^ p_key[(i & 0xffffffffu) % p_key.size()]);
    return plain;
}

} // namespace

MemoryVolume::MemoryVolume(const std::string& p_name, std::string p_bytes)
    : _name(p_name), _bytes(boost::make_shared<const std::string>(std::move(p_bytes)))
{
}

bool MemoryVolume::Exists(const Qor::Draxel::Assets::AssetPath& p_path) const
{
    return p_path == _name;
}

boost::shared_ptr<std::istream> MemoryVolume::Open(const Qor::Draxel::Assets::AssetPath& p_path, OpenMode) const
{
    if (!(p_path == _name))
        return boost::shared_ptr<std::istream>();
    return boost::make_shared<std::istringstream>(*_bytes);
}

void UseEnsureHandler(bool p_returning, const std::function<void(const std::string&)>& p_observer)
{
    qordebug::logger& logger = Qor::Draxel::Utility::GetLogger();
    logger.set_line_sink(qordebug::line_sink());
    logger.set_ensure_handler([p_returning, p_observer](const std::string& p_message) {
        ++g_ensures;
        if (p_observer)
            p_observer(p_message);
        if (!p_returning)
            throw qordebug::ensure_failure(p_message);
    });
}

std::size_t EnsureCount()
{
    return g_ensures;
}

std::vector<std::string> CentralNames(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer)
{
    std::vector<std::string> names;
    if (p_archive.size() < 22 + p_trailer)
        return names;
    const std::string plain = Plain(p_archive, p_key);
    const std::size_t end = plain.size() - p_trailer - 22;
    if (Get(plain, end, 4) != 0x06054b50)
        return names;
    const std::size_t count = Get(plain, end + 8, 2);
    std::size_t at = Get(plain, end + 16, 4);
    for (std::size_t i = 0; i < count; ++i) {
        if (at > plain.size() || plain.size() - at < 46)
            break;
        const std::size_t nameLength = Get(plain, at + 28, 2);
        const std::size_t skipped = Get(plain, at + 30, 2) + Get(plain, at + 32, 2);
        at += 46;
        if (plain.size() - at < nameLength)
            break;
        if (nameLength > 0)
            names.push_back(plain.substr(at, nameLength));
        at += nameLength + skipped;
    }
    return names;
}

std::size_t CentralCount(const std::string& p_archive, const std::string& p_key, std::size_t p_trailer)
{
    if (p_archive.size() < 22 + p_trailer)
        return 65535; // the record is read from wherever the seek lands: assume the worst
    const std::string plain = Plain(p_archive, p_key);
    const std::size_t end = plain.size() - p_trailer - 22;
    return Get(plain, end + 8, 2); // the walk goes on with an invalid record too
}

std::string FoldLineEnds(const std::string& p_bytes)
{
    std::string folded;
    folded.reserve(p_bytes.size());
    for (std::size_t i = 0; i < p_bytes.size(); ++i) {
        if (p_bytes[i] == '\r' && i + 1 < p_bytes.size() && p_bytes[i + 1] == '\n')
            continue;
        folded += p_bytes[i];
    }
    return folded;
}

std::string ReadUpTo(std::istream& p_stream, std::size_t p_limit, bool& p_complete)
{
    std::string bytes(p_limit, '\0');
    p_stream.read(&bytes[0], static_cast<std::streamsize>(p_limit));
    bytes.resize(static_cast<std::size_t>(p_stream.gcount()));
    p_complete = bytes.size() < p_limit || p_stream.peek() == std::char_traits<char>::eof();
    return bytes;
}

} // namespace fuzz_support
