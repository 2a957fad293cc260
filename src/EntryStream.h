// The stream ArchiveVolume::Open hands out: an std::istream over the bytes of one entry, which
// it owns, so that it may outlive the volume; made by reading the entry's bytes from the
// archive through the archive core's entry reader (unscrambled and, in text mode, folded).
//
// Stream, buffer and bytes are one allocation: the returned shared pointer's control block
// holds the stream, and the bytes follow it in the same block (only a big entry's bytes are
// mapped apart, EntryBytes.h). The bytes are not initialised: Open writes each one it shows.
// The buffer serves them in place as an array device does: it seeks anywhere from the first
// byte to one past the last, a seek outside that or a putback before the first byte fails the
// stream with badbit, and a putback of another character writes it into the bytes.
#pragma once

#include "ArchiveCore/EntryReader.h"
#include "EntryBytes.h"

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstring>
#include <istream>
#include <new>
#include <stdexcept>
#include <streambuf>
#include <utility>

namespace Qor {
namespace Draxel {
namespace Assets {

class EntryBuffer : public std::streambuf {
public:
    void Show(char* p_bytes, std::size_t p_size) { setg(p_bytes, p_bytes, p_bytes + p_size); }

protected:
    pos_type seekoff(off_type p_offset, std::ios_base::seekdir p_direction, std::ios_base::openmode) override
    {
        const off_type size = egptr() - eback();
        const off_type base = p_direction == std::ios_base::beg   ? 0
                              : p_direction == std::ios_base::cur ? gptr() - eback()
                                                                  : size;
        if (p_offset < -base || p_offset > size - base)
            throw std::ios_base::failure("bad seek offset");
        setg(eback(), eback() + base + p_offset, egptr());
        return pos_type(base + p_offset);
    }

    pos_type seekpos(pos_type p_position, std::ios_base::openmode p_which) override
    {
        return seekoff(off_type(p_position), std::ios_base::beg, p_which);
    }

    int_type pbackfail(int_type p_char) override
    {
        if (gptr() == eback())
            throw std::ios_base::failure("putback buffer full");
        gbump(-1);
        if (!traits_type::eq_int_type(p_char, traits_type::eof()))
            *gptr() = traits_type::to_char_type(p_char);
        return traits_type::not_eof(p_char);
    }
};

class EntryStream {
public:
    EntryStream() : _stream(&_buffer) {}
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;

    // The stream over the entry whose bytes come next in p_source, p_claimed of them as its
    // local header counts them, read by p_reader (EntryReader.h) in one chunk. It holds only
    // what the source holds of those, so a claim past the archive's end takes no memory it
    // does not fill. An entry of which nothing is held or read is as empty as one that claims
    // nothing: an empty stream.
    template <class Source>
    static boost::shared_ptr<std::istream> Read(Source& p_source, std::size_t p_claimed, const Zip::ScrambleKey* p_key,
                                                std::streamoff p_dataOffset, bool p_text)
    {
        const std::size_t held = p_claimed == 0 ? 0 : p_source.Available(p_claimed);
        if (held == 0)
            return Empty();
        boost::shared_ptr<EntryStream> entry = Make(held);
        // Fewer than held only when the file shrank since it was measured.
        const Zip::EntryRead read =
            Zip::EntryReader(p_key, p_dataOffset, held)
                .Text(p_text)
                .Read(Zip::ReadsFrom(p_source), entry->_bytes, held, [](const char*, std::size_t) { return true; });
        return Show(std::move(entry), static_cast<std::size_t>(read.shown));
    }

    // A stream over no bytes: what an empty entry opens as.
    static boost::shared_ptr<std::istream> Empty() { return Show(Make(0), 0); }

private:
    // A stream with room for p_capacity bytes, not yet shown; std::bad_alloc when there is no
    // room for them.
    static boost::shared_ptr<EntryStream> Make(std::size_t p_capacity)
    {
        if (EntryBytes::Maps(p_capacity)) {
            boost::shared_ptr<EntryStream> entry = boost::make_shared<EntryStream>();
            entry->_mapped = EntryBytes(p_capacity);
            entry->_bytes = entry->_mapped.data();
            return entry;
        }
        char* bytes = nullptr;
        boost::shared_ptr<EntryStream> entry =
            boost::allocate_shared<EntryStream>(TrailingAllocator<EntryStream>(p_capacity, &bytes));
        entry->_bytes = bytes;
        return entry;
    }

    // The stream over the first p_size bytes; it keeps the whole entry alive.
    static boost::shared_ptr<std::istream> Show(boost::shared_ptr<EntryStream> p_entry, std::size_t p_size)
    {
        p_entry->_buffer.Show(p_entry->_bytes, p_size);
        std::istream* stream = &p_entry->_stream;
        return boost::shared_ptr<std::istream>(std::move(p_entry), stream);
    }

    // Allocates what allocate_shared asks for with `trailing` bytes behind it, and tells where
    // those begin; the block goes whole. Only the one allocation of the control block uses it.
    template <class T>
    struct TrailingAllocator {
        using value_type = T;

        TrailingAllocator(std::size_t p_trailing, char** p_where) : trailing(p_trailing), where(p_where) {}
        template <class U>
        TrailingAllocator(const TrailingAllocator<U>& p_other) : trailing(p_other.trailing), where(p_other.where)
        {
        }

        T* allocate(std::size_t p_count)
        {
            constexpr std::size_t Align = alignof(std::max_align_t);
            const std::size_t head = (p_count * sizeof(T) + Align - 1) / Align * Align;
            char* block = static_cast<char*>(::operator new(head + trailing));
            *where = block + head;
            return reinterpret_cast<T*>(block);
        }
        void deallocate(T* p_block, std::size_t) noexcept { ::operator delete(static_cast<void*>(p_block)); }

        template <class U>
        bool operator==(const TrailingAllocator<U>& p_other) const
        {
            return where == p_other.where;
        }
        template <class U>
        bool operator!=(const TrailingAllocator<U>& p_other) const
        {
            return where != p_other.where;
        }

        std::size_t trailing;
        char** where; // read only by allocate, while Make runs
    };

    EntryBuffer _buffer;
    std::istream _stream;
    EntryBytes _mapped;
    char* _bytes = nullptr;
};

} // namespace Assets
} // namespace Draxel
} // namespace Qor
