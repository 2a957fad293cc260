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
    }
    return "unknown";
}

} // namespace Assets
} // namespace Draxel
} // namespace Qor
