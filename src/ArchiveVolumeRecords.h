// How the archive volume reads records from its source (a FileSource or a StreamSource), with
// the checks the walk and Open report on the way: the record reader, the key trailer, the end
// record and a central name. Only the archive volume's sources include this header.
#pragma once

#include "ArchiveCore/Format.h"
#include "ArchiveCore/KeyStream.h"
#include "ArchiveCore/Records.h"
#include "Check.h"
#include "Messages.h"

#include <cstdint>
#include <ios>
#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Archive {

// The record reader. The bytes start zeroed; whatever could not be read stays zero (then
// unscrambled like the rest), so a record that was not read fails its Valid() test at the
// caller.

template <class T>
struct RecordMessages;
template <>
struct RecordMessages<Zip::EndRecord> {
    static constexpr const char* Eof = Messages::EndRecordEof;
    static constexpr const char* Count = Messages::EndRecordCount;
};
template <>
struct RecordMessages<Zip::CentralHeader> {
    static constexpr const char* Eof = Messages::CentralHeaderEof;
    static constexpr const char* Count = Messages::CentralHeaderCount;
};
template <>
struct RecordMessages<Zip::LocalHeader> {
    static constexpr const char* Eof = Messages::LocalHeaderEof;
    static constexpr const char* Count = Messages::LocalHeaderCount;
};

template <class Source, class T>
void ReadStruct(Source& source, T& record, const Zip::ScrambleKey& key)
{
    const std::streamoff position = source.tellg();
    Check(!source.eof(), RecordMessages<T>::Eof);
    char bytes[T::Size] = {};
    source.read(bytes, T::Size);
    Check(source.gcount() == static_cast<std::streamsize>(T::Size), RecordMessages<T>::Count);
    key.RunAt(position).Xor(bytes, T::Size);
    record.DecodeFrom(bytes);
}

// A scrambled archive read without a given key carries its key in its last 32 bytes, stored
// as is. The length of that trailer, 0 when there is none.
template <class Source>
std::streamoff ReadKeyTrailer(Source& p_source, bool p_scrambled, Zip::ScrambleKey& p_key)
{
    if (!p_scrambled || !p_key.empty())
        return 0;
    const std::streamoff length = static_cast<std::streamoff>(Zip::KeyTrailerLength);
    std::string trailer(Zip::KeyTrailerLength, '\0');
    p_source.seekg(-length, std::ios_base::end);
    p_source.read(&trailer[0], Zip::KeyTrailerLength);
    p_key = Zip::ScrambleKey(trailer);
    return length;
}

// The end record lies exactly 22 bytes (plus the trailer) before the end: never searched for.
template <class Source>
Zip::EndRecord ReadEndRecord(Source& p_source, std::streamoff p_trailerLength, const Zip::ScrambleKey& p_key)
{
    p_source.seekg(-(static_cast<std::streamoff>(Zip::EndRecord::Size) + p_trailerLength), std::ios_base::end);
    Zip::EndRecord record;
    ReadStruct(p_source, record, p_key);
    Check(record.Valid(), Messages::EndRecordInvalid);
    return record;
}

// The name behind a central header, unscrambled at the offset it was read from.
template <class Source>
void ReadName(Source& p_source, std::uint16_t p_length, std::streamoff p_position, const Zip::ScrambleKey& p_key,
              std::string& p_name)
{
    p_name.assign(p_length, '\0');
    p_source.read(&p_name[0], p_length);
    p_key.RunAt(p_position).Xor(&p_name[0], p_name.size());
}

} // namespace Archive
} // namespace Assets
} // namespace Draxel
} // namespace Qor
