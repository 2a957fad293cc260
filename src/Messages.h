// Every precondition message the library reports, in one table.
//
// A message is the failed expression in double quotes, " - ", and the full signature of the
// checking function, as the host's Windows build of this library prints it; hosts and their
// tests match these texts byte for byte, so they never change. The sources report them, the
// tests expect them and draxel-assets recognises them from here: nothing else spells them.
#pragma once

#include <string>

namespace Qor {
namespace Draxel {
namespace Assets {
namespace Messages {

// The signatures, as the checking functions' names are printed.
#define ASSETS_SIG_READSTRUCT(Record)                                                                                  \
    " - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonymous-namespace'::" Record                          \
    ">(class std::basic_istream<char,struct std::char_traits<char> > &,struct `anonymous-namespace'::" Record          \
    " &,const class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &)"
#define ASSETS_SIG_PARSE_STREAM                                                                                        \
    " - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(class std::basic_istream<char,"                  \
    "struct std::char_traits<char> > &)"
#define ASSETS_SIG_PARSE_VOLUME                                                                                        \
    " - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(const class "                                    \
    "Qor::Draxel::Assets::Volume &,const class Qor::Draxel::Assets::AssetPath &)"
#define ASSETS_SIG_PARSE_FILE                                                                                          \
    " - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(const class qorfile::filepath &)"
#define ASSETS_SIG_OPEN(Class)                                                                                         \
    " - class boost::shared_ptr<class std::basic_istream<char,struct std::char_traits<char> > > __cdecl "              \
    "Qor::Draxel::Assets::" Class "::Open(const class Qor::Draxel::Assets::AssetPath &,enum "                          \
    "Qor::Draxel::Assets::Volume::OpenMode) const"
#define ASSETS_SIG_MOUNT_DIRECTORY                                                                                     \
    " - void __cdecl Qor::Draxel::Assets::AssetLibrary::MountDirectory(const class qorfile::filepath &,const "         \
    "class Qor::Draxel::Assets::AssetPath &,unsigned int)"
#define ASSETS_SIG_MOUNT_ARCHIVE                                                                                       \
    " - void __cdecl Qor::Draxel::Assets::AssetLibrary::MountArchive(const class qorfile::filepath &,const "           \
    "class Qor::Draxel::Assets::AssetPath &,unsigned int,const class std::basic_string<char,struct "                   \
    "std::char_traits<char>,class std::allocator<char> > &)"
#define ASSETS_SIG_UNMOUNT " - void __cdecl Qor::Draxel::Assets::AssetLibrary::Unmount(const class qorfile::filepath &)"
#define ASSETS_SIG_REMOUNT " - void __cdecl Qor::Draxel::Assets::AssetLibrary::Remount(const class qorfile::filepath &)"
#define ASSETS_SIG_RESOURCE                                                                                            \
    " - __cdecl Qor::Draxel::Assets::Resource::Resource(const class qorfile::filepath &,const class "                  \
    "qorfile::filepath &,const class qorfile::filepath &,const class qorfile::filepath &,const class "                 \
    "qorfile::filepath &)"
#define ASSETS_SIG_STRING_ARGUMENT                                                                                     \
    "(const class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const"

// ---- The record reader: one pair per record ---------------------------------------------

#define ASSETS_READSTRUCT_PAIR(Name, Record)                                                                           \
    inline constexpr const char* Name##Eof = "\"!source.eof()\"" ASSETS_SIG_READSTRUCT(Record);                        \
    inline constexpr const char* Name##Count = "\"source.gcount() == sizeof(T)\"" ASSETS_SIG_READSTRUCT(Record);
ASSETS_READSTRUCT_PAIR(EndRecord, "ZipEndOfCentralDirectory")
ASSETS_READSTRUCT_PAIR(CentralHeader, "ZipCentralDirectoryHeader")
ASSETS_READSTRUCT_PAIR(LocalHeader, "ZipLocalFileHeader")
#undef ASSETS_READSTRUCT_PAIR

// ---- The walk over the central directory ------------------------------------------------

inline constexpr const char* DirectoryNotEmpty = "\"_state->directory.empty()\"" ASSETS_SIG_PARSE_STREAM;
inline constexpr const char* EndRecordInvalid =
    "\"endOfCentralDirectory.Valid() && \"Zip comments are not supported by this parser.\"\"" ASSETS_SIG_PARSE_STREAM;
inline constexpr const char* HeaderInvalid = "\"header.Valid()\"" ASSETS_SIG_PARSE_STREAM;
inline constexpr const char* NameEmpty = "\"filenameLength > 0\"" ASSETS_SIG_PARSE_STREAM;
inline constexpr const char* Encrypted =
    "\"!encrypted && \"ERROR: Encryption not yet supported\"\"" ASSETS_SIG_PARSE_STREAM;
inline constexpr const char* MethodUnsupported =
    "\"(!compressed || compressedUsingDeflate) && \"ERROR: Compression method unsupported\"\"" ASSETS_SIG_PARSE_STREAM;
inline constexpr const char* DuplicateFile =
    "\"!asset->second.file && \"ERROR: Duplicate file entry found in archive\"\"" ASSETS_SIG_PARSE_STREAM;

// ---- Reading an archive from another volume or from disk --------------------------------

inline constexpr const char* VolumeStreamMissing = "\"archive\"" ASSETS_SIG_PARSE_VOLUME;
inline constexpr const char* VolumeStreamFailed = "\"*archive\"" ASSETS_SIG_PARSE_VOLUME;
inline constexpr const char* ArchiveFileFailed = "\"archive\"" ASSETS_SIG_PARSE_FILE;

// ---- Opening an archive entry -----------------------------------------------------------

inline constexpr const char* EntryMissing = "\"asset != _state->directory.end()\"" ASSETS_SIG_OPEN("ArchiveVolume");
inline constexpr const char* EntryIsDirectory =
    "\"asset->second.file && \"ERROR: No file associated with that path. Cannot open a directory entry as a "
    "stream.\"\"" ASSETS_SIG_OPEN("ArchiveVolume");
inline constexpr const char* ArchiveNotGood = "\"archive->good()\"" ASSETS_SIG_OPEN("ArchiveVolume");
inline constexpr const char* LocalHeaderInvalid = "\"localHeader.Valid()\"" ASSETS_SIG_OPEN("ArchiveVolume");
inline constexpr const char* EntryCompressed =
    "\"!asset->second.file->compressed && \"ERROR: Compression is not supported.\"\"" ASSETS_SIG_OPEN("ArchiveVolume");
// An archive file replaced (renamed over, or rewritten in place) since its directory was read:
// the message names the archive, so it is made when it is reported.
inline constexpr const char* ArchiveChangedBefore = "\"sameArchive && \"ERROR: ";
inline constexpr const char* ArchiveChangedAfter =
    ": archive changed on disk since it was mounted\"\"" ASSETS_SIG_OPEN("ArchiveVolume");
inline std::string ArchiveChanged(const std::string& p_archive)
{
    return ArchiveChangedBefore + p_archive + ArchiveChangedAfter;
}

// The exception an entry or an archive of no bytes raises (as std::string's position check words it).
inline constexpr const char* NoBytes = "invalid string position";

// ---- The directory volume ---------------------------------------------------------------

inline constexpr const char* DirectoryModeNotText = "\"p_mode == Text\"" ASSETS_SIG_OPEN("FileSystemVolume");
inline constexpr const char* DirectoryStreamFailed =
    "\"stream->good() && \"ERROR: Could not open stream for specified file. Did you try to open a directory?\"\"" ASSETS_SIG_OPEN(
        "FileSystemVolume");

// ---- The mount table --------------------------------------------------------------------

#define ASSETS_NOT_MOUNTED "\"_state->priorities.find( p_source ) == _state->priorities.end()\""
inline constexpr const char* MountDirectoryMissing =
    "\"qorfile::direxists( p_source ) && \"ERROR: AssetLibrary: Asset directory does not exist!\"\"" ASSETS_SIG_MOUNT_DIRECTORY;
inline constexpr const char* MountDirectoryTwice = ASSETS_NOT_MOUNTED ASSETS_SIG_MOUNT_DIRECTORY;
inline constexpr const char* MountArchiveMissing =
    "\"qorfile::fileexists( p_source ) && \"ERROR: AssetLibrary: Asset archive file does not exist!\"\"" ASSETS_SIG_MOUNT_ARCHIVE;
inline constexpr const char* MountArchiveTwice = ASSETS_NOT_MOUNTED ASSETS_SIG_MOUNT_ARCHIVE;
inline constexpr const char* UnmountNotMounted = "\"pos != _state->priorities.end()\"" ASSETS_SIG_UNMOUNT;
inline constexpr const char* UnmountNoGroup = "\"priorityGroup != _state->volumes.end()\"" ASSETS_SIG_UNMOUNT;
#undef ASSETS_NOT_MOUNTED
inline constexpr const char* RemountNotMounted =
    "\"_state->priorities.find( p_source ) != _state->priorities.end() && \"ERROR: AssetLibrary: Only a mounted "
    "source can be remounted!\"\"" ASSETS_SIG_REMOUNT;
inline constexpr const char* RemountUnreadable =
    "\"readable && \"ERROR: AssetLibrary: Source cannot be read now; the volume mounted before stays!\"\"" ASSETS_SIG_REMOUNT;

// ---- The resource directories -----------------------------------------------------------

inline constexpr const char* ResourceInvalidPaths =
    "\"p_root.valid() && p_image.valid() && p_font.valid()\"" ASSETS_SIG_RESOURCE;
inline constexpr const char* ResourceNoRoot = "\"direxists(p_root)\"" ASSETS_SIG_RESOURCE;
inline constexpr const char* ResourceNoImage = "\"direxists(p_image)\"" ASSETS_SIG_RESOURCE;
inline constexpr const char* ResourceNoFont = "\"direxists(p_font)\"" ASSETS_SIG_RESOURCE;
inline constexpr const char* ResourceNoFonts =
    "\"!_fontPaths.empty() && \"No valid fonts found on the system!\"\"" ASSETS_SIG_RESOURCE;
inline constexpr const char* ResourceNoShaderTests = "\"library->Exists( shaderTestDir )\"" ASSETS_SIG_RESOURCE;
inline constexpr const char* ResourceNoShaders = "\"library->Exists(shaderDir)\"" ASSETS_SIG_RESOURCE;
inline constexpr const char* ImageFileMissing =
    "\"path.valid() && fileexists(path)\" - class qorfile::filepath __cdecl "
    "Qor::Draxel::Assets::Resource::ImageFile" ASSETS_SIG_STRING_ARGUMENT;
// Written as a warning line on derr, not through ensure.
inline constexpr const char* DefaultFaceWarning =
    "WARNING: \"(std::string(DEFAULTFONTFACE) == it->first) && \"Loading default font face failed!\"\" - "
    "class qorfile::filepath __cdecl Qor::Draxel::Assets::Resource::FontFile" ASSETS_SIG_STRING_ARGUMENT " @line202";

#undef ASSETS_SIG_READSTRUCT
#undef ASSETS_SIG_PARSE_STREAM
#undef ASSETS_SIG_PARSE_VOLUME
#undef ASSETS_SIG_PARSE_FILE
#undef ASSETS_SIG_OPEN
#undef ASSETS_SIG_MOUNT_DIRECTORY
#undef ASSETS_SIG_MOUNT_ARCHIVE
#undef ASSETS_SIG_UNMOUNT
#undef ASSETS_SIG_REMOUNT
#undef ASSETS_SIG_RESOURCE
#undef ASSETS_SIG_STRING_ARGUMENT

} // namespace Messages
} // namespace Assets
} // namespace Draxel
} // namespace Qor
