// The scramble key and the stream of key bytes that scrambles (and, being its own inverse,
// unscrambles) an archive: the only code that decides which key byte meets which archive byte.
//
// The rule. Bytes are scrambled in runs: a record, a name, or an entry's data is a run of its
// own. A run that starts at archive offset p begins at key index i = P mod n, where n is the
// key's length and P is p as a stream's tellg cut to 32 bits gives it, a signed 32-bit value
// (so offsets from 2 GiB on count negative, and a failed stream's -1 stays -1), and the
// remainder is the least non-negative one. The run's k-th byte is XORed with
// key[(i + k) mod n]. Below 2 GiB this is key[offset mod n] for every byte; from 2 GiB on it
// is that only for key lengths that divide 2^32, so the reader and the writer both go through
// this stream and start their runs at the same places.
//
// ScrambleKey is immutable once made and may be shared between threads; a KeyStream is one
// run's cursor, made by ScrambleKey::RunAt, and reads the key it was made from, which must
// outlive it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Zip {

class KeyStream;

class ScrambleKey {
public:
    // No key: every stream leaves the bytes as they are.
    ScrambleKey() = default;
    explicit ScrambleKey(const std::string& p_key) : _key(p_key), _pattern(p_key)
    {
        // The key repeated a whole number of times, so that a long run goes by long XORs.
        while (!_pattern.empty() && _pattern.size() < PatternLeast)
            _pattern += _pattern;
    }

    bool empty() const { return _key.empty(); }
    std::size_t size() const { return _key.size(); }
    const std::string& str() const { return _key; }

    // The stream of a run that starts at archive offset p_runStart.
    inline KeyStream RunAt(std::int64_t p_runStart) const;

private:
    static constexpr std::size_t PatternLeast = 4096;

    std::string _key;
    std::string _pattern;
};

class KeyStream {
public:
    // XORs the run's next p_count bytes with their key bytes, and moves on past them.
    void Xor(char* p_bytes, std::size_t p_count)
    {
        if (_keyLength == 0)
            return;
        unsigned char* bytes = reinterpret_cast<unsigned char*>(p_bytes);
        std::size_t index = _index;
        for (std::size_t left = p_count; left > 0;) {
            const std::size_t run = std::min(left, _patternLength - index);
            XorBytes(bytes, _pattern + index, run);
            bytes += run;
            left -= run;
            index = 0; // the pattern ends on a whole key
        }
        Skip(p_count);
    }

    // Moves on past p_count bytes of the run without touching them.
    void Skip(std::uint64_t p_count)
    {
        if (_keyLength != 0)
            _index = static_cast<std::size_t>((_index + p_count % _keyLength) % _keyLength);
    }

private:
    friend class ScrambleKey;

    KeyStream(const std::string& p_key, const std::string& p_pattern, std::int64_t p_runStart)
        : _pattern(reinterpret_cast<const unsigned char*>(p_pattern.data())), _patternLength(p_pattern.size()),
          _keyLength(p_key.size()), _index(_keyLength == 0 ? 0 : StartIndex(p_runStart, _keyLength))
    {
    }

    static std::size_t StartIndex(std::int64_t p_runStart, std::size_t p_keyLength)
    {
        const auto position =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(p_runStart)));
        const auto length = static_cast<std::int64_t>(p_keyLength);
        const std::int64_t remainder = static_cast<std::int64_t>(position) % length;
        return static_cast<std::size_t>(remainder < 0 ? remainder + length : remainder);
    }

    // Eight bytes at a time where it can.
    static void XorBytes(unsigned char* p_bytes, const unsigned char* p_key, std::size_t p_count)
    {
        std::size_t i = 0;
        for (; i + 8 <= p_count; i += 8) {
            std::uint64_t word, key;
            std::memcpy(&word, p_bytes + i, 8);
            std::memcpy(&key, p_key + i, 8);
            word ^= key;
            std::memcpy(p_bytes + i, &word, 8);
        }
        for (; i < p_count; ++i)
            p_bytes[i] ^= p_key[i];
    }

    const unsigned char* _pattern;
    std::size_t _patternLength;
    std::size_t _keyLength;
    std::size_t _index;
};

inline KeyStream ScrambleKey::RunAt(std::int64_t p_runStart) const
{
    return KeyStream(_key, _pattern, p_runStart);
}

} // namespace Zip
} // namespace Assets
} // namespace Draxel
} // namespace Qor
