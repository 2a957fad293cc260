// The platform interface of draxel-assets on Windows: wide-character (UTF-16) system calls
// for UTF-8 text, binary standard output, and extraction that neither follows reparse points
// (symbolic links, junctions) nor writes to a name Windows reads as something else.
#include "Platform.h"
#include "ToolSupport.h"
#include "WindowsNames.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>

#include <WideText.h> // windows.h, with NOMINMAX and WIN32_LEAN_AND_MEAN

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

namespace draxel_tool {
namespace platform {

namespace {

// The system's text for an error code, as one line.
std::string Reason(DWORD p_error)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, p_error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = length > 0 ? widetext::Narrow(text) : std::string();
    ::LocalFree(text);
    while (!reason.empty() &&
           (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' || reason.back() == '.'))
        reason.pop_back();
    return reason.empty() ? "system error " + std::to_string(p_error) : reason;
}

// The paths a signal removes, converted before the signal can come: a handler may not
// allocate. A slot is filled before it is marked used, and marked unused before it is filled.
constexpr int RemovedPaths = 8;
wchar_t g_removeOnSignal[RemovedPaths][32768];
volatile LONG g_removeUsed[RemovedPaths];

void RemoveRegistered()
{
    // Files first, then the folders they were in.
    for (int slot = 0; slot < RemovedPaths; ++slot)
        if (g_removeUsed[slot])
            ::DeleteFileW(g_removeOnSignal[slot]);
    for (int slot = 0; slot < RemovedPaths; ++slot)
        if (g_removeUsed[slot])
            ::RemoveDirectoryW(g_removeOnSignal[slot]);
}

extern "C" void RemoveAndEnd(int p_signal)
{
    RemoveRegistered();
    std::signal(p_signal, SIG_DFL);
    std::raise(p_signal);
}

// The console closing, the user logging off, the system shutting down: the process ends once
// this returns (the C runtime's signals see Ctrl-C and Ctrl-Break only).
BOOL WINAPI RemoveOnClose(DWORD p_event)
{
    if (p_event == CTRL_CLOSE_EVENT || p_event == CTRL_LOGOFF_EVENT || p_event == CTRL_SHUTDOWN_EVENT)
        RemoveRegistered();
    return FALSE;
}

// FILETIME counts 100-nanosecond steps from 1601-01-01 00:00 UTC, 11 644 473 600 s before 1970.
constexpr std::int64_t FileTimeSteps = 10000000, FileTimeTo1970 = 11644473600LL;

// Gives the open file or folder p_handle the time of p_stamp. Permission bits are not restored:
// Windows has none (and a read-only attribute would stop --overwrite later).
std::string RestoreStamp(HANDLE p_handle, const Stamp& p_stamp)
{
    ULARGE_INTEGER steps;
    steps.QuadPart = static_cast<ULONGLONG>((p_stamp.modified + FileTimeTo1970) * FileTimeSteps);
    const FILETIME written{steps.LowPart, steps.HighPart};
    if (p_stamp.hasTime && !::SetFileTime(p_handle, nullptr, nullptr, &written))
        return "cannot set its modification time: " + Reason(::GetLastError());
    return std::string();
}

class WindowsOutputFile : public OutputFile {
public:
    explicit WindowsOutputFile(HANDLE p_file) : _file(p_file) {}
    ~WindowsOutputFile() override
    {
        if (_file != INVALID_HANDLE_VALUE)
            ::CloseHandle(_file);
    }

    std::string Write(const char* p_bytes, std::size_t p_count) override
    {
        while (p_count > 0) {
            const DWORD chunk = static_cast<DWORD>(p_count < (DWORD(1) << 30) ? p_count : (DWORD(1) << 30));
            DWORD written = 0;
            if (!::WriteFile(_file, p_bytes, chunk, &written, nullptr))
                return Reason(::GetLastError());
            p_bytes += written;
            p_count -= written;
        }
        return std::string();
    }

    std::string Restore(const Stamp& p_stamp) override { return RestoreStamp(_file, p_stamp); }

    std::string Close() override
    {
        const HANDLE file = _file;
        _file = INVALID_HANDLE_VALUE;
        return ::CloseHandle(file) ? std::string() : Reason(::GetLastError());
    }

private:
    HANDLE _file;
};

// The attributes of p_path without following a final reparse point; INVALID_FILE_ATTRIBUTES
// with the error in p_error when it is not there or cannot be told.
DWORD AttributesOf(const std::wstring& p_path, DWORD& p_error)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(p_path.c_str(), GetFileExInfoStandard, &data)) {
        p_error = ::GetLastError();
        return INVALID_FILE_ATTRIBUTES;
    }
    return data.dwFileAttributes;
}

class WindowsExtractDirectory : public ExtractDirectory {
public:
    explicit WindowsExtractDirectory(std::wstring p_root) : _root(std::move(p_root)) {}

    std::string MakeFolders(const std::string& p_relative) override
    {
        std::wstring folder;
        return WalkFolders(PathComponents(p_relative), true, folder);
    }

    std::string CreateOutput(const std::string& p_relative, bool p_replace,
                             std::unique_ptr<OutputFile>& p_file) override
    {
        std::vector<std::string> parts = PathComponents(p_relative);
        if (parts.empty())
            return "the name has no path";
        const std::string leaf = parts.back();
        parts.pop_back();
        std::wstring folder;
        std::string error = WalkFolders(parts, false, folder);
        if (!error.empty())
            return error;
        error = AliasedName(leaf);
        if (!error.empty())
            return error;
        const std::wstring path = folder + L'\\' + widetext::Widen(leaf);
        // The leaf is opened, never followed: a reparse point in its place is found on the handle.
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, p_replace ? OPEN_ALWAYS : CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            DWORD ignored = 0;
            const DWORD attributes = AttributesOf(path, ignored);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                return "a symbolic link is in the way";
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
                return "exists (--overwrite replaces it)";
            return Reason(code);
        }
        BY_HANDLE_FILE_INFORMATION information;
        if (!::GetFileInformationByHandle(file, &information)) {
            const std::string reason = Reason(::GetLastError());
            ::CloseHandle(file);
            return reason;
        }
        if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            ::CloseHandle(file);
            return "a symbolic link is in the way";
        }
        if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ::CloseHandle(file);
            return "not a regular file";
        }
        if (p_replace && !::SetEndOfFile(file)) {
            const std::string reason = Reason(::GetLastError());
            ::CloseHandle(file);
            return reason;
        }
        p_file = std::make_unique<WindowsOutputFile>(file);
        return std::string();
    }

    std::string RestoreFolder(const std::string& p_relative, const Stamp& p_stamp) override
    {
        std::wstring folder;
        const std::string error = WalkFolders(PathComponents(p_relative), false, folder);
        if (!error.empty())
            return error;
        const HANDLE handle =
            ::CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return Reason(::GetLastError());
        const std::string restored = RestoreStamp(handle, p_stamp);
        ::CloseHandle(handle);
        return restored;
    }

private:
    // Goes down p_parts below the root, creating missing folders when p_create; a reparse
    // point or a file on the way is an error. p_folder receives the last folder's path.
    std::string WalkFolders(const std::vector<std::string>& p_parts, bool p_create, std::wstring& p_folder)
    {
        std::wstring folder = _root;
        for (const std::string& part : p_parts) {
            const std::string aliased = AliasedName(part);
            if (!aliased.empty())
                return aliased;
            folder += L'\\';
            folder += widetext::Widen(part);
            if (p_create && !::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
                return Reason(::GetLastError());
            DWORD error = 0;
            const DWORD attributes = AttributesOf(folder, error);
            if (attributes == INVALID_FILE_ATTRIBUTES)
                return Reason(error);
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return "a symbolic link or a file is in the way of " + part;
        }
        p_folder = folder;
        return std::string();
    }

    std::wstring _root;
};

} // namespace

std::vector<std::string> Arguments(int p_argc, char** p_argv)
{
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(p_argv, p_argv + p_argc);
    std::vector<std::string> arguments;
    for (int index = 0; index < count; ++index)
        arguments.push_back(widetext::Narrow(wide[index]));
    ::LocalFree(wide);
    return arguments;
}

void BinaryStandardOutput()
{
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stdin), _O_BINARY);
}

std::size_t DrivePrefixLength(const std::string& p_path)
{
    const bool drive = p_path.size() >= 2 && std::isalpha(static_cast<unsigned char>(p_path[0])) && p_path[1] == ':';
    return drive ? 2 : 0;
}

const char* NativeNoticesName()
{
    return "ReadDirectoryChangesW";
}

bool StandardErrorIsTerminal()
{
    return ::_isatty(::_fileno(stderr)) != 0;
}

unsigned long ProcessId()
{
    return static_cast<unsigned long>(::GetCurrentProcessId());
}

std::string ExecutablePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size()) {
            path.resize(length);
            return widetext::Narrow(path.c_str(), path.size());
        }
        path.resize(path.size() * 2); // truncated: try again with room to spare
    }
}

bool StandardOutputPipeClosed(int p_errno)
{
    // The C runtime keeps the system's code of its last failed call in _doserrno; Wine reports
    // a reader gone as ERROR_PIPE_NOT_CONNECTED, Windows as ERROR_NO_DATA.
    for (const unsigned long error :
         {static_cast<unsigned long>(_doserrno), static_cast<unsigned long>(::GetLastError())})
        if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
            return true;
    return p_errno == EPIPE;
}

void EndForClosedPipe()
{
    RemoveRegistered();
    ::ExitProcess(Failed);
}

void RemoveOnSignal(const std::string& p_path)
{
    const std::wstring wide = widetext::Widen(p_path);
    if (wide.empty() || wide.size() >= sizeof g_removeOnSignal[0] / sizeof g_removeOnSignal[0][0])
        return;
    for (int slot = 0; slot < RemovedPaths; ++slot) {
        if (g_removeUsed[slot])
            continue;
        std::wmemcpy(g_removeOnSignal[slot], wide.c_str(), wide.size() + 1);
        g_removeUsed[slot] = 1;
        std::signal(SIGINT, RemoveAndEnd);
        std::signal(SIGTERM, RemoveAndEnd);
        std::signal(SIGBREAK, RemoveAndEnd);
        static const BOOL handled = ::SetConsoleCtrlHandler(RemoveOnClose, TRUE);
        (void)handled;
        return;
    }
}

void KeepOnSignal(const std::string& p_path)
{
    const std::wstring wide = widetext::Widen(p_path);
    for (int slot = 0; slot < RemovedPaths; ++slot)
        if (g_removeUsed[slot] && wide == g_removeOnSignal[slot])
            g_removeUsed[slot] = 0;
}

std::unique_ptr<OutputFile> CreateOutputFile(const std::string& p_path, std::string& p_error)
{
    const HANDLE file =
        ::CreateFileW(widetext::Widen(p_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        p_error = Reason(::GetLastError());
        return nullptr;
    }
    return std::make_unique<WindowsOutputFile>(file);
}

bool ReadStamp(const std::string& p_path, Stamp& p_stamp, std::string& p_error)
{
    // Opened, not asked for its attributes, so that a link is followed.
    const HANDLE handle = ::CreateFileW(widetext::Widen(p_path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME written{};
    const bool read = handle != INVALID_HANDLE_VALUE && ::GetFileTime(handle, nullptr, nullptr, &written);
    if (!read)
        p_error = Reason(::GetLastError());
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    ULARGE_INTEGER steps;
    steps.LowPart = written.dwLowDateTime;
    steps.HighPart = written.dwHighDateTime;
    p_stamp = Stamp();
    p_stamp.hasTime = read;
    p_stamp.modified = static_cast<std::int64_t>(steps.QuadPart) / FileTimeSteps - FileTimeTo1970;
    return read;
}

std::unique_ptr<ExtractDirectory> OpenExtractDirectory(const std::string& p_path, std::string& p_error)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::u8path(p_path);
    std::filesystem::create_directories(path, error);
    if (!std::filesystem::is_directory(path)) {
        p_error = error ? error.message() : "not a directory";
        return nullptr;
    }
    std::wstring root = path.wstring();
    while (root.size() > 1 && (root.back() == L'\\' || root.back() == L'/') && root[root.size() - 2] != L':')
        root.pop_back();
    return std::make_unique<WindowsExtractDirectory>(root);
}

} // namespace platform
} // namespace draxel_tool
