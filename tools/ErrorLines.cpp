// The one-line errors of draxel-assets on standard error, and any text made printable for a
// line of output.
#include "ToolSupport.h"

#include "ArchiveCore/Names.h"

#include <iostream>

namespace draxel_tool {

void PrintError(const std::string& p_subject, const std::string& p_message)
{
    std::cerr << "draxel-assets: ";
    if (!p_subject.empty())
        std::cerr << Printable(p_subject) << ": ";
    std::cerr << Printable(p_message) << std::endl;
}

void ProblemLines::Print(const std::string& p_subject, const std::string& p_message)
{
    if (_all || _count < Shown)
        PrintError(p_subject, p_message);
    ++_count;
}

void ProblemLines::Finish(const std::string& p_subject)
{
    if (!_all && _count > Shown)
        PrintError(p_subject, "and " + std::to_string(_count - Shown) + " more (--all lists every one)");
}

std::string Printable(const std::string& p_text)
{
    std::string printable;
    printable.reserve(p_text.size());
    for (std::size_t at = 0; at < p_text.size();) {
        const unsigned char byte = static_cast<unsigned char>(p_text[at]);
        const std::size_t length = Qor::Draxel::Assets::Zip::Utf8SequenceLength(p_text, at);
        if (length > 1 || (length == 1 && byte >= 0x20 && byte != 0x7f)) {
            printable.append(p_text, at, length);
            at += length;
            continue;
        }
        if (byte == '\n' || byte == '\r' || byte == '\t') {
            printable += byte == '\n' ? "\\n" : byte == '\r' ? "\\r" : "\\t";
        } else {
            static const char digits[] = "0123456789abcdef";
            printable += "\\x";
            printable += digits[byte >> 4];
            printable += digits[byte & 15];
        }
        ++at;
    }
    return printable;
}

} // namespace draxel_tool
