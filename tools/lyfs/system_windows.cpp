#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>

#include "device.h"
#include "failure.h"
#include "lyfs/lyfs.h"
#include "system.h"

namespace lyfs::tool {
namespace {

std::string error_text(DWORD error) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::string words = text;
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    return words.empty() ? "error " + std::to_string(error) : words;
}

}  // namespace

const int kOpenFlags = O_BINARY | O_NOINHERIT;

bool is_write_protected(const std::string& path) {
    // Opening for writing writes nothing; the answer is in the refusal.
    HANDLE device =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_WRITE_PROTECT || error == ERROR_ACCESS_DENIED;
}

// Drives and volumes have names of the device namespace: \\.\PhysicalDrive2,
// \\.\E:; the file-system calls do not see them.
PathKind path_kind(const std::string& path, std::string* why) {
    if (path.rfind("\\\\.\\", 0) == 0) {
        return PathKind::kDevice;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *why = error_text(GetLastError());
        return PathKind::kMissing;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0
               ? PathKind::kFile
               : PathKind::kOther;
}

void create_sparse_file(const std::string& path, std::uint64_t bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw Failure("cannot create " + path + ": " + error_text(GetLastError()));
    }
    // Without the sparse mark NTFS would write out every zero.
    DWORD returned = 0;
    (void)DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(bytes);
    const bool sized = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    const DWORD size_error = GetLastError();
    CloseHandle(file);
    if (!sized) {
        DeleteFileA(path.c_str());
        throw Failure("cannot size " + path + ": " + error_text(size_error));
    }
}

std::filesystem::path local_path(const std::string& text) {
    const int size = static_cast<int>(text.size());
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

// A character the code page lacks comes out as '?', which no file name holds: the path then
// fails to open rather than naming another file.
std::string path_text(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    const int size = static_cast<int>(wide.size());
    std::string text(
        WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, text.data(), static_cast<int>(text.size()),
                        nullptr, nullptr);
    return text;
}

std::filesystem::path make_temporary_folder(const std::string& prefix) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    std::random_device seed;
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
        const std::filesystem::path folder = base / (prefix + std::to_string(seed() % 1000000));
        if (std::filesystem::create_directory(folder, error)) {
            return folder;
        }
    }
    throw Failure("cannot create a temporary folder in " + path_text(base));
}

bool stdout_is_terminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

bool stdin_is_terminal() {
    return ::_isatty(::_fileno(stdin)) != 0;
}

int standard_output_for_bytes() {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    return ::_fileno(stdout);
}

bool sync_file(int fd) {
    return ::_commit(fd) == 0;
}

// off_t is 32 bits here: a copy past 2 GiB needs the 64-bit call.
bool truncate_file(int fd, std::uint64_t bytes) {
    return ::_chsize_s(fd, static_cast<__int64>(bytes)) == 0;
}

// CON, NUL and the other device names are not files anywhere.
bool is_system_stream(const std::string& path) {
    std::string stem = path_text(local_path(path).stem());
    for (char& c : stem) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const char* device : {"CON", "NUL", "PRN", "AUX", "CONIN$", "CONOUT$"}) {
        if (stem == device) {
            return true;
        }
    }
    return path.rfind("\\\\.\\", 0) == 0;
}

void replace_file(const std::string& from, const std::string& to) {
    if (!MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw Failure("cannot put the copy in place of " + to + ": " + error_text(GetLastError()));
    }
}

DeviceReader::DeviceReader(const std::string& path) : path_(path) {
    // Shared as the library opens it.
    HANDLE device = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        throw Failure("cannot open " + path + " for reading: " + error_text(GetLastError()));
    }
    handle_ = reinterpret_cast<std::intptr_t>(device);
    // The library holds byte 2^62, far past the end of any card, exclusively while it writes a
    // card and shared while it only reads one.
    constexpr std::uint64_t kLibraryLockByte = std::uint64_t{1} << 62;
    OVERLAPPED locked_byte{};
    locked_byte.Offset = static_cast<DWORD>(kLibraryLockByte);
    locked_byte.OffsetHigh = static_cast<DWORD>(kLibraryLockByte >> 32);
    if (!LockFileEx(device, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &locked_byte) &&
        GetLastError() == ERROR_LOCK_VIOLATION) {
        CloseHandle(device);
        require_not_in_use(path, LYFS_ERR_SHARING_VIOLATION);
    }
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    LARGE_INTEGER file_size{};
    if (DeviceIoControl(device, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length,
                        &returned, nullptr)) {
        size_ = static_cast<std::uint64_t>(length.Length.QuadPart);
    } else if (GetFileSizeEx(device, &file_size)) {
        size_ = static_cast<std::uint64_t>(file_size.QuadPart);
    } else {
        const DWORD error = GetLastError();
        CloseHandle(device);
        throw Failure("cannot tell the size of " + path + ": " + error_text(error));
    }
}

DeviceReader::~DeviceReader() {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t DeviceReader::read(std::span<std::uint8_t> piece) {
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size_ - offset_));
    std::size_t done = 0;
    while (done < wanted) {
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(wanted - done, 1u << 30));
        const bool read =
            ReadFile(reinterpret_cast<HANDLE>(handle_), piece.data() + done, asked, &got, nullptr);
        if (!read || got == 0) {
            throw Failure("reading " + path_ + " failed at byte " + std::to_string(offset_ + done) +
                          ": " + (read ? "it ends early" : error_text(GetLastError())));
        }
        done += got;
    }
    offset_ += done;
    return done;
}

namespace {

volatile std::sig_atomic_t g_interruption = 0;

extern "C" void note_interruption(int signal_number) {
    g_interruption = signal_number;
    std::signal(signal_number, note_interruption);  // the runtime resets it before the call
}

}  // namespace

// Ctrl-C and Ctrl-Break reach a console program as SIGINT and SIGBREAK.
void catch_interruptions() {
    for (const int signal_number : {SIGINT, SIGBREAK, SIGTERM}) {
        std::signal(signal_number, note_interruption);
    }
}

int interruption() {
    return g_interruption;
}

std::string signal_name(int signal_number) {
    return signal_number == SIGINT     ? "SIGINT"
           : signal_number == SIGBREAK ? "SIGBREAK"
           : signal_number == SIGTERM  ? "SIGTERM"
                                       : "signal " + std::to_string(signal_number);
}

}  // namespace lyfs::tool
