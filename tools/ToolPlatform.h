// What draxel-assets needs of the operating system: whether the progress bar has a terminal,
// and an untranslated standard output. ToolPlatform.cpp is the program's one source that
// knows which system it runs on.
#pragma once

namespace draxel_tool {

bool StandardErrorIsTerminal();

// Standard output passes bytes unchanged: cat writes an entry's bytes as they are, and every
// listing ends its lines with LF alone, on every host (a Windows C runtime would write CR LF
// in text mode).
void UseBinaryStandardOutput();

} // namespace draxel_tool
