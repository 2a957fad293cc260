// An open-addressing hash set of texts that are held elsewhere (the archive directory's paths
// and folders), for exact lookups by text without a copy of each path.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace Qor {
namespace Draxel {
namespace Assets {

inline std::uint64_t MixBits(std::uint64_t p_value)
{
    p_value = (p_value ^ (p_value >> 30)) * 0xbf58476d1ce4e5b9ull;
    p_value = (p_value ^ (p_value >> 27)) * 0x94d049bb133111ebull;
    return p_value ^ (p_value >> 31);
}

// A text's hash goes over its whole eight-byte words from the first, then its last few bytes
// and its length: the hashes of a text's prefixes by growing length (PrefixHashes) then
// cost one pass over the text, not one per prefix.
constexpr std::uint64_t HashSeed = 0x9e3779b97f4a7c15ull;

inline std::uint64_t HashWord(std::uint64_t p_hash, const char* p_word)
{
    std::uint64_t word;
    std::memcpy(&word, p_word, 8);
    return MixBits(p_hash ^ word) + HashSeed;
}

// p_hash is the hash of the text's first p_length - p_count bytes, whole words; p_rest its
// last p_count bytes, fewer than eight.
inline std::uint64_t FinishHash(std::uint64_t p_hash, const char* p_rest, std::size_t p_count, std::size_t p_length)
{
    if (p_count > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, p_rest, p_count);
        p_hash = MixBits(p_hash ^ word);
    }
    return MixBits(p_hash ^ (HashSeed * (p_length + 1)));
}

inline std::uint64_t HashText(std::string_view p_text)
{
    const char* bytes = p_text.data();
    std::size_t count = p_text.size();
    std::uint64_t hash = HashSeed;
    for (; count >= 8; bytes += 8, count -= 8)
        hash = HashWord(hash, bytes);
    return FinishHash(hash, bytes, count, p_text.size());
}

// The hashes of the prefixes of one text, asked for by growing length: each costs only the
// words that came since the one before.
class PrefixHashes {
public:
    explicit PrefixHashes(std::string_view p_text) : _text(p_text) {}

    // HashText of the first p_length bytes; p_length is not less than the last one asked for.
    std::uint64_t Of(std::size_t p_length)
    {
        for (; _hashed + 8 <= p_length; _hashed += 8)
            _hash = HashWord(_hash, _text.data() + _hashed);
        return FinishHash(_hash, _text.data() + _hashed, p_length - _hashed, p_length);
    }

private:
    std::string_view _text;
    std::size_t _hashed = 0; // the bytes in _hash, whole words
    std::uint64_t _hash = HashSeed;
};

// An open-addressing set of texts held elsewhere: each bucket holds an item number (plus one;
// 0 is empty) and a tag of the hash, which spares most comparisons of texts.
class TextIndex {
public:
    // Room for p_items without rehashing; p_textOf(item) gives an item's text.
    template <class TextOf>
    void Reserve(std::size_t p_items, const TextOf& p_textOf)
    {
        std::size_t capacity = 16;
        while (capacity < 2 * p_items)
            capacity *= 2;
        if (capacity > _buckets.size())
            Rehash(capacity, HashesOf(p_textOf));
    }

    // The item holding p_text, or -1. p_hash is HashText(p_text) where the caller has it.
    template <class TextOf>
    std::int64_t Find(std::string_view p_text, const TextOf& p_textOf) const
    {
        return Find(p_text, HashText(p_text), p_textOf);
    }
    template <class TextOf>
    std::int64_t Find(std::string_view p_text, std::uint64_t p_hash, const TextOf& p_textOf) const
    {
        if (_buckets.empty())
            return -1;
        const std::uint64_t hash = p_hash;
        const std::uint32_t tag = static_cast<std::uint32_t>(hash >> 32);
        for (std::size_t at = hash & _mask;; at = (at + 1) & _mask) {
            const Bucket& bucket = _buckets[at];
            if (bucket.item == 0)
                return -1;
            if (bucket.tag == tag && p_textOf(bucket.item - 1) == p_text)
                return bucket.item - 1;
        }
    }

    // Adds p_item under p_text, which the set does not hold yet.
    template <class TextOf>
    void Add(std::string_view p_text, std::uint32_t p_item, const TextOf& p_textOf)
    {
        AddHashed(HashText(p_text), p_item, HashesOf(p_textOf));
    }
    // Adds p_item under the text whose HashText is p_hash; p_hashOf(item) gives an item's
    // hash, for where the caller has the hashes of texts that are long to hash again.
    template <class HashOf>
    void AddHashed(std::uint64_t p_hash, std::uint32_t p_item, const HashOf& p_hashOf)
    {
        if (2 * (_count + 1) > _buckets.size())
            Rehash(_buckets.empty() ? 16 : 2 * _buckets.size(), p_hashOf);
        Place(p_hash, p_item);
        ++_count;
    }

    // After the items were renumbered: p_number[old] is the new number.
    void Renumber(const std::vector<std::uint32_t>& p_number)
    {
        for (Bucket& bucket : _buckets) {
            if (bucket.item != 0)
                bucket.item = p_number[bucket.item - 1] + 1;
        }
    }

private:
    struct Bucket {
        std::uint32_t item;
        std::uint32_t tag;
    };

    void Place(std::uint64_t p_hash, std::uint32_t p_item)
    {
        std::size_t at = p_hash & _mask;
        while (_buckets[at].item != 0)
            at = (at + 1) & _mask;
        _buckets[at] = Bucket{p_item + 1, static_cast<std::uint32_t>(p_hash >> 32)};
    }

    template <class TextOf>
    static auto HashesOf(const TextOf& p_textOf)
    {
        return [&p_textOf](std::uint32_t p_item) { return HashText(p_textOf(p_item)); };
    }

    template <class HashOf>
    void Rehash(std::size_t p_capacity, const HashOf& p_hashOf)
    {
        std::vector<Bucket> old(p_capacity, Bucket{0, 0});
        old.swap(_buckets);
        _mask = p_capacity - 1;
        for (const Bucket& bucket : old) {
            if (bucket.item != 0)
                Place(p_hashOf(bucket.item - 1), bucket.item - 1);
        }
    }

    std::vector<Bucket> _buckets;
    std::size_t _mask = 0;
    std::size_t _count = 0;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
