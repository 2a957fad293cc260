// Input streams over host files, as the volumes open them.
//
// Two host differences are settled here rather than at each caller: a directory never opens
// as a file (the stream comes back failed), and text mode reads as a Windows C runtime reads
// text (CR LF becomes LF; positions are file offsets) on every host: the runtime's own
// translation where it has one, an imitation of it elsewhere.
#pragma once

#include <istream>
#include <memory>

namespace Qor {
namespace Draxel {
namespace Assets {

// A new stream over the file named by p_path (UTF-8 text), opened for reading with p_mode
// (binary when p_mode holds std::ios_base::binary, text otherwise). Check good() for success.
std::unique_ptr<std::istream> OpenFileStream(const char* p_path, std::ios_base::openmode p_mode);

// A stream as OpenFileStream gives it for a file that does not open, made without asking the
// disk.
std::unique_ptr<std::istream> FailedFileStream();

} // namespace Assets
} // namespace Draxel
} // namespace Qor
