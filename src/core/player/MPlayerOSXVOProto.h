#pragma once

// The frame link between the player tool and the program that shows its
// pictures: names and wire format, shared by both sides. Plain C++ and POSIX,
// since the tool does not use Qt.
//
// The program (the server) binds a Unix socket named after its own pid and the
// buffer name, then starts the tool, whose parent it is. On accept it writes the
// four ASCII bytes of the pixel format it wants. The tool then sends one-byte
// messages; each waits for its answer:
//   'S' + width, height, bytes per pixel, aspect x 100 (little-endian int32 each)
//        -> int32 1 (ready) or 0 (refused)
//   'R' a new picture is in the shared object  -> one byte
//   'E' the picture stream has ended            -> one byte
//   'F', 'T' full screen, on top: accepted, no effect -> one byte
// The picture lies in a shared-memory object the tool makes before 'S': width x
// height x 2 bytes, rows top first. The tool removes its name once 'S' is
// answered, and the server once the connection has ended, so nothing is left
// behind when the tool is killed. The next tool makes its object only after
// the server has taken it, so the server's removal never hits it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace MPlayerOSXVOProto {

inline constexpr char kToolName[] = "DORavuzo";

enum class Message : unsigned char {
    Start = 'S',
    Render = 'R',
    Stop = 'E',
    ToggleFullscreen = 'F',
    OnTop = 'T',
};

// The answer to every message but Start.
inline constexpr unsigned char kDone = '.';
// The four integers that follow Start.
inline constexpr std::size_t kStartBytes = 16;
inline constexpr std::int32_t kStartAccepted = 1;
inline constexpr std::int32_t kStartRefused = 0;

inline constexpr std::int32_t kBytesPerPixel = 2;
// The largest width or height a server maps; far beyond any video we play.
inline constexpr std::int32_t kLargestSide = 8192;
// sun_path holds 108 bytes with its terminating zero.
inline constexpr std::size_t kSocketPathLimit = 107;

// 8-bit 4:2:2 Y'CbCr, packed, in the byte order its name gives.
using PixelFormat = std::array<char, 4>;
inline constexpr PixelFormat kFormatYuvs { 'y', 'u', 'v', 's' }; // Y0 Cb Y1 Cr
inline constexpr PixelFormat kFormat2vuy { '2', 'v', 'u', 'y' }; // Cb Y0 Cr Y1

// The buffer name as one path component: a "/" would point elsewhere.
inline std::string linkName(std::string_view bufferName)
{
    std::string name(bufferName);
    for (char& character : name)
        if (character == '/')
            character = '_';
    return name;
}

// The temporary folder as the rest of the program sees it: $TMPDIR, else /tmp.
inline std::string temporaryFolder()
{
    const char* folder = std::getenv("TMPDIR");
    std::string path = folder && *folder ? folder : "/tmp";
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// A folder only we may enter: ours, not a link, no rights for group or others.
inline bool isPrivateFolder(const std::string& path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid()
        && (info.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR, which is private by rule, else quillon-<uid> in the
// temporary folder, which the server makes private and both sides check.
inline std::string socketFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return runtime;
    return temporaryFolder() + "/quillon-" + std::to_string(::getuid());
}

inline std::string socketPath(pid_t serverPid, std::string_view bufferName)
{
    return socketFolder() + "/quillon-" + std::to_string(serverPid) + "-" + linkName(bufferName)
        + ".sock";
}

inline std::string sharedMemoryName(pid_t serverPid, std::string_view bufferName)
{
    return "/quillon-" + std::to_string(::getuid()) + "-" + std::to_string(serverPid) + "-"
        + linkName(bufferName);
}

inline void putInt32(unsigned char* bytes, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int index = 0; index < 4; ++index)
        bytes[index] = static_cast<unsigned char>(bits >> (8 * index));
}

inline std::int32_t getInt32(const unsigned char* bytes)
{
    std::uint32_t bits = 0;
    for (int index = 0; index < 4; ++index)
        bits |= static_cast<std::uint32_t>(bytes[index]) << (8 * index);
    return static_cast<std::int32_t>(bits);
}

} // namespace MPlayerOSXVOProto
