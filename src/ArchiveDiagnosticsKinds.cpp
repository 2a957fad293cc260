// The words draxel-assets and hosts show for each kind of ArchiveDiagnostics finding.
#include <Assets/ArchiveDiagnostics.h>

namespace Qor {
namespace Draxel {
namespace Assets {

const char* ArchiveDiagnostics::KindName(Kind p_kind)
{
    switch (p_kind) {
    case Kind::Unreadable:
        return "unreadable";
    case Kind::NoEndRecord:
        return "no end record";
    case Kind::Comment:
        return "archive comment";
    case Kind::Zip64:
        return "ZIP64 records";
    case Kind::BadCentral:
        return "damaged central directory";
    case Kind::BadLocal:
        return "damaged local header";
    case Kind::EmptyName:
        return "empty name";
    case Kind::DataDescriptor:
        return "data descriptor";
    case Kind::SizeMismatch:
        return "size mismatch";
    case Kind::CrcMismatch:
        return "CRC-32 mismatch";
    case Kind::DataPastEnd:
        return "data past the end";
    case Kind::Overlap:
        return "overlapping entries";
    case Kind::Encrypted:
        return "encrypted";
    case Kind::Deflated:
        return "deflated";
    case Kind::Compressed:
        return "compressed";
    case Kind::DuplicateName:
        return "duplicate name";
    case Kind::DotComponent:
        return "dot component";
    case Kind::ParentComponent:
        return "parent component";
    case Kind::AbsoluteName:
        return "absolute name";
    case Kind::Backslash:
        return "backslash in name";
    case Kind::NulInName:
        return "NUL in name";
    case Kind::NotUtf8:
        return "name not UTF-8";
    case Kind::SymbolicLink:
        return "symbolic link";
    case Kind::CountMismatch:
        return "entry count mismatch";
    case Kind::CentralSizeMismatch:
        return "central directory size mismatch";
    case Kind::MethodMismatch:
        return "method mismatch";
    case Kind::NameMismatch:
        return "local name mismatch";
    }
    return "unknown";
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
