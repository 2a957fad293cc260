// Every message text of the library, spelled out once more by hand: hosts match these texts
// byte for byte, so a change to the table in Messages.h must fail here. The other tests and
// draxel-assets take the texts from the table.
#include "Messages.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace Qor::Draxel::Assets;

TEST(MessagesTest, EveryTextIsExactlyAsHostsExpectIt)
{
    const std::vector<std::pair<const char*, std::string>> texts = {
        {Messages::EndRecordEof,
         "\"!source.eof()\" - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonymous-namespace':"
         ":ZipEndOfCentralDirectory>(class std::basic_istream<char,struct std::char_traits<char> > &,struc"
         "t `anonymous-namespace'::ZipEndOfCentralDirectory &,const class std::basic_string<char,struct st"
         "d::char_traits<char>,class std::allocator<char> > &)"},
        {Messages::EndRecordCount,
         "\"source.gcount() == sizeof(T)\" - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonym"
         "ous-namespace'::ZipEndOfCentralDirectory>(class std::basic_istream<char,struct std::char_traits<"
         "char> > &,struct `anonymous-namespace'::ZipEndOfCentralDirectory &,const class std::basic_string"
         "<char,struct std::char_traits<char>,class std::allocator<char> > &)"},
        {Messages::CentralHeaderEof,
         "\"!source.eof()\" - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonymous-namespace':"
         ":ZipCentralDirectoryHeader>(class std::basic_istream<char,struct std::char_traits<char> > &,stru"
         "ct `anonymous-namespace'::ZipCentralDirectoryHeader &,const class std::basic_string<char,struct "
         "std::char_traits<char>,class std::allocator<char> > &)"},
        {Messages::CentralHeaderCount,
         "\"source.gcount() == sizeof(T)\" - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonym"
         "ous-namespace'::ZipCentralDirectoryHeader>(class std::basic_istream<char,struct std::char_traits"
         "<char> > &,struct `anonymous-namespace'::ZipCentralDirectoryHeader &,const class std::basic_stri"
         "ng<char,struct std::char_traits<char>,class std::allocator<char> > &)"},
        {Messages::LocalHeaderEof,
         "\"!source.eof()\" - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonymous-namespace':"
         ":ZipLocalFileHeader>(class std::basic_istream<char,struct std::char_traits<char> > &,struct `ano"
         "nymous-namespace'::ZipLocalFileHeader &,const class std::basic_string<char,struct std::char_trai"
         "ts<char>,class std::allocator<char> > &)"},
        {Messages::LocalHeaderCount,
         "\"source.gcount() == sizeof(T)\" - void __cdecl `anonymous-namespace'::ReadStruct<struct `anonym"
         "ous-namespace'::ZipLocalFileHeader>(class std::basic_istream<char,struct std::char_traits<char> "
         "> &,struct `anonymous-namespace'::ZipLocalFileHeader &,const class std::basic_string<char,struct"
         " std::char_traits<char>,class std::allocator<char> > &)"},
        {Messages::DirectoryNotEmpty,
         "\"_state->directory.empty()\" - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(cl"
         "ass std::basic_istream<char,struct std::char_traits<char> > &)"},
        {Messages::EndRecordInvalid,
         "\"endOfCentralDirectory.Valid() && \"Zip comments are not supported by this parser.\"\" - void _"
         "_cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(class std::basic_istream<char,struct std"
         "::char_traits<char> > &)"},
        {Messages::HeaderInvalid,
         "\"header.Valid()\" - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(class std::ba"
         "sic_istream<char,struct std::char_traits<char> > &)"},
        {Messages::NameEmpty,
         "\"filenameLength > 0\" - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(class std"
         "::basic_istream<char,struct std::char_traits<char> > &)"},
        {Messages::Encrypted,
         "\"!encrypted && \"ERROR: Encryption not yet supported\"\" - void __cdecl Qor::Draxel::Assets::Ar"
         "chiveVolume::ParseArchive(class std::basic_istream<char,struct std::char_traits<char> > &)"},
        {Messages::MethodUnsupported,
         "\"(!compressed || compressedUsingDeflate) && \"ERROR: Compression method unsupported\"\" - void "
         "__cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(class std::basic_istream<char,struct st"
         "d::char_traits<char> > &)"},
        {Messages::DuplicateFile,
         "\"!asset->second.file && \"ERROR: Duplicate file entry found in archive\"\" - void __cdecl Qor::"
         "Draxel::Assets::ArchiveVolume::ParseArchive(class std::basic_istream<char,struct std::char_trait"
         "s<char> > &)"},
        {Messages::VolumeStreamMissing,
         "\"archive\" - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(const class Qor::Dra"
         "xel::Assets::Volume &,const class Qor::Draxel::Assets::AssetPath &)"},
        {Messages::VolumeStreamFailed,
         "\"*archive\" - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(const class Qor::Dr"
         "axel::Assets::Volume &,const class Qor::Draxel::Assets::AssetPath &)"},
        {Messages::ArchiveFileFailed,
         "\"archive\" - void __cdecl Qor::Draxel::Assets::ArchiveVolume::ParseArchive(const class qorfile:"
         ":filepath &)"},
        {Messages::EntryMissing,
         "\"asset != _state->directory.end()\" - class boost::shared_ptr<class std::basic_istream<char,str"
         "uct std::char_traits<char> > > __cdecl Qor::Draxel::Assets::ArchiveVolume::Open(const class Qor:"
         ":Draxel::Assets::AssetPath &,enum Qor::Draxel::Assets::Volume::OpenMode) const"},
        {Messages::EntryIsDirectory,
         "\"asset->second.file && \"ERROR: No file associated with that path. Cannot open a directory entr"
         "y as a stream.\"\" - class boost::shared_ptr<class std::basic_istream<char,struct std::char_trai"
         "ts<char> > > __cdecl Qor::Draxel::Assets::ArchiveVolume::Open(const class Qor::Draxel::Assets::A"
         "ssetPath &,enum Qor::Draxel::Assets::Volume::OpenMode) const"},
        {Messages::ArchiveNotGood,
         "\"archive->good()\" - class boost::shared_ptr<class std::basic_istream<char,struct std::char_tra"
         "its<char> > > __cdecl Qor::Draxel::Assets::ArchiveVolume::Open(const class Qor::Draxel::Assets::"
         "AssetPath &,enum Qor::Draxel::Assets::Volume::OpenMode) const"},
        {Messages::LocalHeaderInvalid,
         "\"localHeader.Valid()\" - class boost::shared_ptr<class std::basic_istream<char,struct std::char"
         "_traits<char> > > __cdecl Qor::Draxel::Assets::ArchiveVolume::Open(const class Qor::Draxel::Asse"
         "ts::AssetPath &,enum Qor::Draxel::Assets::Volume::OpenMode) const"},
        {Messages::EntryCompressed,
         "\"!asset->second.file->compressed && \"ERROR: Compression is not supported.\"\" - class boost::s"
         "hared_ptr<class std::basic_istream<char,struct std::char_traits<char> > > __cdecl Qor::Draxel::A"
         "ssets::ArchiveVolume::Open(const class Qor::Draxel::Assets::AssetPath &,enum Qor::Draxel::Assets"
         "::Volume::OpenMode) const"},
        {Messages::DirectoryModeNotText,
         "\"p_mode == Text\" - class boost::shared_ptr<class std::basic_istream<char,struct std::char_trai"
         "ts<char> > > __cdecl Qor::Draxel::Assets::FileSystemVolume::Open(const class Qor::Draxel::Assets"
         "::AssetPath &,enum Qor::Draxel::Assets::Volume::OpenMode) const"},
        {Messages::DirectoryStreamFailed,
         "\"stream->good() && \"ERROR: Could not open stream for specified file. Did you try to open a dir"
         "ectory?\"\" - class boost::shared_ptr<class std::basic_istream<char,struct std::char_traits<char"
         "> > > __cdecl Qor::Draxel::Assets::FileSystemVolume::Open(const class Qor::Draxel::Assets::Asset"
         "Path &,enum Qor::Draxel::Assets::Volume::OpenMode) const"},
        {Messages::MountDirectoryMissing,
         "\"qorfile::direxists( p_source ) && \"ERROR: AssetLibrary: Asset directory does not exist!\"\" -"
         " void __cdecl Qor::Draxel::Assets::AssetLibrary::MountDirectory(const class qorfile::filepath &,"
         "const class Qor::Draxel::Assets::AssetPath &,unsigned int)"},
        {Messages::MountDirectoryTwice,
         "\"_state->priorities.find( p_source ) == _state->priorities.end()\" - void __cdecl Qor::Draxel::"
         "Assets::AssetLibrary::MountDirectory(const class qorfile::filepath &,const class Qor::Draxel::As"
         "sets::AssetPath &,unsigned int)"},
        {Messages::MountArchiveMissing,
         "\"qorfile::fileexists( p_source ) && \"ERROR: AssetLibrary: Asset archive file does not exist!\""
         "\" - void __cdecl Qor::Draxel::Assets::AssetLibrary::MountArchive(const class qorfile::filepath "
         "&,const class Qor::Draxel::Assets::AssetPath &,unsigned int,const class std::basic_string<char,s"
         "truct std::char_traits<char>,class std::allocator<char> > &)"},
        {Messages::MountArchiveTwice,
         "\"_state->priorities.find( p_source ) == _state->priorities.end()\" - void __cdecl Qor::Draxel::"
         "Assets::AssetLibrary::MountArchive(const class qorfile::filepath &,const class Qor::Draxel::Asse"
         "ts::AssetPath &,unsigned int,const class std::basic_string<char,struct std::char_traits<char>,cl"
         "ass std::allocator<char> > &)"},
        {Messages::UnmountNotMounted,
         "\"pos != _state->priorities.end()\" - void __cdecl Qor::Draxel::Assets::AssetLibrary::Unmount(co"
         "nst class qorfile::filepath &)"},
        {Messages::UnmountNoGroup,
         "\"priorityGroup != _state->volumes.end()\" - void __cdecl Qor::Draxel::Assets::AssetLibrary::Unm"
         "ount(const class qorfile::filepath &)"},
        {Messages::RemountNotMounted,
         "\"_state->priorities.find( p_source ) != _state->priorities.end() && \"ERROR: AssetLibrary: Only a "
         "mounted source can be remounted!\"\" - void __cdecl Qor::Draxel::Assets::AssetLibrary::Remount(const "
         "class qorfile::filepath &)"},
        {Messages::RemountUnreadable,
         "\"readable && \"ERROR: AssetLibrary: Source cannot be read now; the volume mounted before stays!\"\" - "
         "void __cdecl Qor::Draxel::Assets::AssetLibrary::Remount(const class qorfile::filepath &)"},
        {Messages::ResourceInvalidPaths,
         "\"p_root.valid() && p_image.valid() && p_font.valid()\" - __cdecl Qor::Draxel::Assets::Resource:"
         ":Resource(const class qorfile::filepath &,const class qorfile::filepath &,const class qorfile::f"
         "ilepath &,const class qorfile::filepath &,const class qorfile::filepath &)"},
        {Messages::ResourceNoRoot,
         "\"direxists(p_root)\" - __cdecl Qor::Draxel::Assets::Resource::Resource(const class qorfile::fil"
         "epath &,const class qorfile::filepath &,const class qorfile::filepath &,const class qorfile::fil"
         "epath &,const class qorfile::filepath &)"},
        {Messages::ResourceNoImage,
         "\"direxists(p_image)\" - __cdecl Qor::Draxel::Assets::Resource::Resource(const class qorfile::fi"
         "lepath &,const class qorfile::filepath &,const class qorfile::filepath &,const class qorfile::fi"
         "lepath &,const class qorfile::filepath &)"},
        {Messages::ResourceNoFont,
         "\"direxists(p_font)\" - __cdecl Qor::Draxel::Assets::Resource::Resource(const class qorfile::fil"
         "epath &,const class qorfile::filepath &,const class qorfile::filepath &,const class qorfile::fil"
         "epath &,const class qorfile::filepath &)"},
        {Messages::ResourceNoFonts,
         "\"!_fontPaths.empty() && \"No valid fonts found on the system!\"\" - __cdecl Qor::Draxel::Assets"
         "::Resource::Resource(const class qorfile::filepath &,const class qorfile::filepath &,const class"
         " qorfile::filepath &,const class qorfile::filepath &,const class qorfile::filepath &)"},
        {Messages::ResourceNoShaderTests,
         "\"library->Exists( shaderTestDir )\" - __cdecl Qor::Draxel::Assets::Resource::Resource(const cla"
         "ss qorfile::filepath &,const class qorfile::filepath &,const class qorfile::filepath &,const cla"
         "ss qorfile::filepath &,const class qorfile::filepath &)"},
        {Messages::ResourceNoShaders,
         "\"library->Exists(shaderDir)\" - __cdecl Qor::Draxel::Assets::Resource::Resource(const class qor"
         "file::filepath &,const class qorfile::filepath &,const class qorfile::filepath &,const class qor"
         "file::filepath &,const class qorfile::filepath &)"},
        {Messages::ImageFileMissing,
         "\"path.valid() && fileexists(path)\" - class qorfile::filepath __cdecl Qor::Draxel::Assets::Reso"
         "urce::ImageFile(const class std::basic_string<char,struct std::char_traits<char>,class std::allo"
         "cator<char> > &) const"},
        {Messages::DefaultFaceWarning,
         "WARNING: \"(std::string(DEFAULTFONTFACE) == it->first) && \"Loading default font face failed!\"\""
         " - class qorfile::filepath __cdecl Qor::Draxel::Assets::Resource::FontFile(const class std::basi"
         "c_string<char,struct std::char_traits<char>,class std::allocator<char> > &) const @line202"},
    };
    for (const auto& text : texts)
        EXPECT_EQ(text.first, text.second);

    // The one message that names its subject.
    EXPECT_EQ(Messages::ArchiveChanged("C:/games/game.zip"),
              "\"sameArchive && \"ERROR: C:/games/game.zip: archive changed on disk since it was mounted\"\" - class"
              " boost::shared_ptr<class std::basic_istream<char,struct std::char_traits<char> > > __cdecl Qor::Draxe"
              "l::Assets::ArchiveVolume::Open(const class Qor::Draxel::Assets::AssetPath &,enum Qor::Draxel::Asset"
              "s::Volume::OpenMode) const");
}
