// The archive volume: the walk over the central directory, and Open. The records, the key
// stream and the format's constants are the archive core's (ArchiveCore/):
//
//   [local header 30 | name | extra | data] ...   one per entry, found through the directory
//   [central header 46 | name | extra | comment] ... the central directory
//   [end of central directory 22]                 exactly the last 22 bytes of the ZIP data
//   [key 32]                                      only in a scrambled archive read without a
//                                                 given key; stored as is, not scrambled
//
// The end record is never searched for: an archive comment (or any byte behind the record)
// makes the record at that place invalid, and that is reported. Not supported: comments,
// spanned archives, ZIP64, data descriptors. Only stored entries open; the CRC is not checked.
//
// Scrambling goes by runs (KeyStream.h): each record, each central name and each entry's data
// is a run from the position the source tells for its first byte (a failed source tells -1).
// Records and central names are unscrambled whenever a key is known; entry data only in
// scrambled mode (an extension other than exactly "zip"). Skipped bytes (extra fields,
// comments, the local copy of the name) are never unscrambled.
#include <Assets/ArchiveVolume.h>

#include "ArchiveCore/Source.h"
#include "ArchiveVolumeRecords.h"
#include "ArchiveVolumeState.h"
#include "Check.h"
#include "EntryStream.h"
#include "FileStream.h"
#include "Messages.h"
#include "ArchiveCore/Format.h"
#include "ArchiveCore/KeyStream.h"
#include "ArchiveCore/Names.h"
#include "ArchiveCore/Records.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace Qor {
namespace Draxel {
namespace Assets {

namespace {

using Archive::Entry;
using Archive::FileInfo;
using Archive::FileSource;
using Archive::ReadEndRecord;
using Archive::ReadKeyTrailer;
using Archive::ReadName;
using Archive::ReadStruct;
using Archive::StreamSource;
using ZipCentralDirectoryHeader = Zip::CentralHeader;
using ZipLocalFileHeader = Zip::LocalHeader;

// The entry's compression and encryption, each reported where it is not supported.
FileInfo DescribeFile(const ZipCentralDirectoryHeader& p_header)
{
    const bool encrypted = (p_header.flags & Zip::FlagEncrypted) != 0;
    Check(!encrypted, Messages::Encrypted);
    const bool compressed = p_header.method != Zip::MethodStored;
    const bool compressedUsingDeflate = p_header.method == Zip::MethodDeflate;
    Check(!compressed || compressedUsingDeflate, Messages::MethodUnsupported);
    return FileInfo{p_header.localHeaderOffset,
                    p_header.compressedSize,
                    p_header.uncompressedSize,
                    compressed,
                    encrypted,
                    p_header.method,
                    p_header.crc32};
}

// Whether the local header that p_archive's window holds for p_file still describes the entry
// the central directory listed: a local header, with the method, CRC-32 and sizes recorded at
// mount. Nothing is read and nothing reported; false when the window does not hold it.
bool LocalHeaderVouches(const FileSource& p_archive, const FileInfo& p_file, const Zip::ScrambleKey& p_key)
{
    const std::streamoff offset = static_cast<std::streamoff>(p_file.localHeaderOffset);
    char bytes[ZipLocalFileHeader::Size];
    if (!p_archive.Peek(offset, bytes, sizeof bytes))
        return false;
    p_key.RunAt(offset).Xor(bytes, sizeof bytes);
    ZipLocalFileHeader header;
    return header.DecodeFrom(bytes) && header.method == p_file.method && header.crc32 == p_file.crc32 &&
           header.compressedSize == p_file.compressedSize && header.uncompressedSize == p_file.uncompressedSize;
}

// A header's record goes to its element: a directory entry marks it, a file entry gives (or
// replaces, reported) its file record.
void Record(Entry& p_asset, bool p_isDirectory, const FileInfo& p_file)
{
    if (p_isDirectory) {
        p_asset.isDirectory = true;
        return;
    }
    Check(!p_asset.file, Messages::DuplicateFile);
    p_asset.file = p_file;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Construction.

ArchiveVolume::ArchiveVolume(const AssetPath& p_source, const AssetPath& p_target, unsigned int p_priority,
                             const std::string& p_key)
    : AssetVolume(p_source, p_target, p_priority), _state(new State)
{
    _state->key = Zip::ScrambleKey(p_key);
    _state->target = _target.str();
    ParseArchive(qorfile::filepath(p_source.str()));
}

ArchiveVolume::ArchiveVolume(const qorfile::filepath& p_source, const std::string& p_key)
    : AssetVolume(AssetPath(p_source), AssetPath(), 0), _state(new State)
{
    _state->key = Zip::ScrambleKey(p_key);
    ParseArchive(p_source);
}

ArchiveVolume::ArchiveVolume(const Volume& p_volume, const AssetPath& p_path, const std::string& p_key)
    : AssetVolume(AssetPath(), AssetPath(), 0), _state(new State)
{
    _state->key = Zip::ScrambleKey(p_key);
    ParseArchive(p_volume, p_path);
}

ArchiveVolume::~ArchiveVolume() = default;

boost::shared_ptr<Volume> ArchiveVolume::Open(const Volume& p_volume, const AssetPath& p_path, const std::string& p_key)
{
    return boost::shared_ptr<Volume>(new ArchiveVolume(p_volume, p_path, p_key));
}

boost::shared_ptr<Volume> ArchiveVolume::Open(const qorfile::filepath& p_source, const std::string& p_key)
{
    return boost::shared_ptr<Volume>(new ArchiveVolume(p_source, p_key));
}

AssetPath ArchiveVolume::Resolve(const AssetPath& p_path) const
{
    return p_path.RelativeTo(_target);
}

boost::shared_ptr<std::istream> ArchiveVolume::OpenSourceStream() const
{
    const std::string& data = _state->archiveData;
    if (!data.empty())
        return Archive::OpenHeldArchive(data);
    return boost::shared_ptr<std::istream>(OpenFileStream(_source, std::ios_base::binary).release());
}

// ---------------------------------------------------------------------------------------
// Reading the archive: from another volume (copied whole into memory), or from a file.

void ArchiveVolume::ParseArchive(const Volume& p_volume, const AssetPath& p_path)
{
    _state->directory.clear();
    _state->scrambled = Zip::IsScrambledArchive(p_path);

    boost::shared_ptr<std::istream> archive = p_volume.Open(p_path, Binary);
    if (!Check(static_cast<bool>(archive), Messages::VolumeStreamMissing))
        return;
    if (!Check(!archive->fail(), Messages::VolumeStreamFailed))
        return;

    Archive::HoldArchive(*archive, _state->archiveData);
    ParseArchive(*archive);
}

void ArchiveVolume::ParseArchive(const qorfile::filepath& p_source)
{
    _state->directory.clear();
    _state->scrambled = Zip::IsScrambledArchive(AssetPath(p_source));

    // Read as a binary file stream reads it (FileSource); the file is closed on return.
    FileSource archive(_source, true);
    Check(!archive.fail(), Messages::ArchiveFileFailed);
    _state->identified = archive.Identify(_state->identity);
    _state->ParseArchive(archive);
}

void ArchiveVolume::ParseArchive(std::istream& p_source)
{
    StreamSource source(p_source);
    _state->ParseArchive(source);
}

// ---------------------------------------------------------------------------------------
// The walk over the central directory.

template <class Source>
void ArchiveVolume::State::ParseArchive(Source& p_source)
{
    Check(directory.empty(), Messages::DirectoryNotEmpty);

    const std::streamoff trailerLength = ReadKeyTrailer(p_source, scrambled, key);
    const Zip::EndRecord endOfCentralDirectory = ReadEndRecord(p_source, trailerLength, key);

    const std::streamoff centralDirectory = endOfCentralDirectory.centralDirectoryOffset;
    p_source.seekg(centralDirectory, std::ios_base::beg);
    // The headers follow one another up to the end record: read them all at once.
    p_source.Prefetch(centralDirectory, std::size_t(-1));

    const unsigned count = endOfCentralDirectory.entriesOnDisk;
    // Room for no more headers than the archive can hold from here.
    const std::size_t room =
        std::min<std::size_t>(count, p_source.Available(std::size_t(-1)) / ZipCentralDirectoryHeader::Size);
    directory.Reserve(room, room * 24);
    // A failed source reads nothing more and tells position -1, so every header read from it
    // comes out the same, and so does its name (zeros, unscrambled at that position). A count
    // that runs past the archive would redo the same name, up to 64 KiB, for each of up to
    // 65 535 headers: the element that name gives is looked up once and reused, and every
    // check still reports as it would.
    std::optional<std::size_t> failedElement;
    bool failedIsDirectory = false;
    std::string name;
    for (unsigned index = 0; index < count; ++index) {
        const bool failedBefore = p_source.fail();
        ZipCentralDirectoryHeader header;
        ReadStruct(p_source, header, key);
        Check(header.Valid(), Messages::HeaderInvalid);

        const std::streamoff namePosition = p_source.tellg();
        const std::uint16_t filenameLength = header.fileNameLength;
        const std::streamoff skipped = static_cast<std::streamoff>(header.extraFieldLength) + header.fileCommentLength;
        if (!Check(filenameLength > 0, Messages::NameEmpty)) {
            p_source.seekg(skipped, std::ios_base::cur);
            continue;
        }

        const bool replay = failedBefore && failedElement;
        if (!replay)
            ReadName(p_source, filenameLength, namePosition, key, name);
        const bool isDirectory = replay ? failedIsDirectory : Zip::NamesFolder(name);
        const FileInfo file = DescribeFile(header);

        const std::size_t element = replay ? *failedElement : directory.Insert(name.data(), name.size());
        if (failedBefore && !replay) {
            failedElement = element;
            failedIsDirectory = isDirectory;
        }
        Record(directory.At(element), isDirectory, file);

        p_source.seekg(skipped, std::ios_base::cur);
    }
    directory.Finish();
}

// ---------------------------------------------------------------------------------------
// Exists and Open.

// The path is cut and looked up once: Exists, Open and the mount table's lookup all come here.
AssetVolume::Found ArchiveVolume::Find(const AssetPath& p_path) const
{
    const std::string_view resolved = _state->Resolve(p_path.Text());
    Found found;
    const Entry* element = nullptr;
    // The folders and the keys share one index: one lookup answers both tests.
    if (_state->directory.Lookup(resolved, element))
        found.kind = element && element->file ? Found::File : Found::Directory;
    found.entry = element;
    return found;
}

bool ArchiveVolume::Exists(const AssetPath& p_path) const
{
    return Find(p_path).kind != Found::Absent;
}

// Open's steps from the source check to the stream; null after a failed check that guards a
// use.
template <class Source>
std::optional<ArchiveVolume::State::EntryData> ArchiveVolume::State::LocateEntry(Source& p_archive,
                                                                                 const FileInfo& p_file) const
{
    if (!Check(p_archive.good(), Messages::ArchiveNotGood))
        return std::nullopt;

    p_archive.seekg(static_cast<std::streamoff>(p_file.localHeaderOffset), std::ios_base::beg);
    ZipLocalFileHeader localHeader;
    ReadStruct(p_archive, localHeader, key);
    if (!Check(localHeader.Valid(), Messages::LocalHeaderInvalid))
        return std::nullopt;

    const std::streamoff skipped =
        static_cast<std::streamoff>(localHeader.fileNameLength) + localHeader.extraFieldLength;
    p_archive.seekg(skipped, std::ios_base::cur);
    const std::streamoff dataOffset = p_archive.tellg();

    Check(!p_file.compressed, Messages::EntryCompressed);

    // The local header counts the entry's bytes (a stream holds only what the archive holds
    // of them); an entry that claims none opens empty.
    const std::size_t claimed = localHeader.uncompressedSize;
    return EntryData{dataOffset, claimed};
}

template <class Source>
boost::shared_ptr<std::istream> ArchiveVolume::State::ReadEntry(Source& p_archive, const FileInfo& p_file,
                                                                OpenMode p_mode) const
{
    const std::optional<EntryData> data = LocateEntry(p_archive, p_file);
    if (!data)
        return boost::shared_ptr<std::istream>();
    return EntryStream::Read(p_archive, data->claimed, DataKey(), data->offset, p_mode == Text);
}

boost::shared_ptr<std::istream> ArchiveVolume::Open(const AssetPath& p_path, OpenMode p_mode) const
{
    return OpenFound(Find(p_path), p_mode);
}

boost::shared_ptr<std::istream> ArchiveVolume::OpenFound(const Found& p_found, OpenMode p_mode) const
{
    const State& state = *_state;
    const Entry* asset = static_cast<const Entry*>(p_found.entry);
    if (!Check(asset != nullptr, Messages::EntryMissing))
        return boost::shared_ptr<std::istream>();
    if (!Check(static_cast<bool>(asset->file), Messages::EntryIsDirectory))
        return boost::shared_ptr<std::istream>();
    const FileInfo& file = *asset->file;

    if (!state.archiveData.empty()) {
        boost::shared_ptr<std::istream> stream = OpenSourceStream();
        StreamSource archive(*stream);
        return state.ReadEntry(archive, file, p_mode);
    }
    // An archive file: opened afresh, and closed again before the stream is handed out. The
    // local header, its copy of the name, a little extra field and a small entry's data mostly
    // come in one read; a larger entry is read straight into its stream's bytes.
    FileSource archive(_source, false);
    const std::size_t around = ZipLocalFileHeader::Size + asset->nameLength + 256;
    archive.Prefetch(static_cast<std::streamoff>(file.localHeaderOffset),
                     around + static_cast<std::size_t>(file.uncompressedSize));
    if (!state.StillTheArchive(archive, file, _source))
        return boost::shared_ptr<std::istream>();
    return state.ReadEntry(archive, file, p_mode);
}

// The directory's offsets hold only in the file it was read from. A local header that still
// vouches for the entry shows the entry as listed; otherwise the file is asked, in one call,
// whether it is still the one read, and a file put in its place since (renamed over it, or
// rewritten in place) is read no further. Asking only then spares every read of an unchanged
// archive a system call.
bool ArchiveVolume::State::StillTheArchive(const FileSource& p_archive, const FileInfo& p_file,
                                           const AssetPath& p_source) const
{
    if (!identified || p_archive.fail() || LocalHeaderVouches(p_archive, p_file, key))
        return true;
    Platform::FileIdentity now;
    if (p_archive.Identify(now) && now == identity)
        return true;
    Check(false, Messages::ArchiveChanged(p_source.str()).c_str());
    return false;
}

// The read into the caller's memory (ArchiveVolumeRead.cpp) goes through the same checks, and
// the batch read (ArchiveVolumeBatch.cpp) through the same reading of an entry.
template std::optional<ArchiveVolume::State::EntryData>
ArchiveVolume::State::LocateEntry<FileSource>(FileSource&, const FileInfo&) const;
template std::optional<ArchiveVolume::State::EntryData>
ArchiveVolume::State::LocateEntry<StreamSource>(StreamSource&, const FileInfo&) const;
template boost::shared_ptr<std::istream> ArchiveVolume::State::ReadEntry<FileSource>(FileSource&, const FileInfo&,
                                                                                     OpenMode) const;
template boost::shared_ptr<std::istream> ArchiveVolume::State::ReadEntry<StreamSource>(StreamSource&, const FileInfo&,
                                                                                       OpenMode) const;

} // namespace Assets
} // namespace Draxel
} // namespace Qor
