#include "services/MediaInfoLibrary.h"

#include <QFile>

#include <algorithm>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kLibraryName = "libmediainfo.so.0";
// The library's "Text" and "Name" info kinds, used for the value and the lookup.
constexpr int kInfoText = 1;
constexpr int kInfoName = 0;

bool isAscii(const QByteArray& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
}

template<typename Fn> Fn symbol(void* handle, const char* name)
{
    // dlsym hands back an object pointer; POSIX guarantees it converts to a function pointer.
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

} // namespace

const MediaInfoLibrary& MediaInfoLibrary::shared()
{
    static const MediaInfoLibrary library;
    return library;
}

MediaInfoLibrary::MediaInfoLibrary()
{
    void* const handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        m_loadError = QString::fromLocal8Bit(dlerror());
        return;
    }
    m_handle = handle;
    if (!resolve()) {
        m_loadError = QStringLiteral("%1 lacks its C entry points").arg(kLibraryName);
        dlclose(handle);
        m_handle = nullptr;
        return;
    }
    // Values come out as UTF-8 whatever the process locale is.
    m_option(nullptr, "CharSet", "UTF-8");
    // A file is one list entry: never merge numbered neighbours into one sequence.
    m_option(nullptr, "File_TestContinuousFileNames", "0");
    m_option(nullptr, "ParseSpeed", "0");
}

bool MediaInfoLibrary::resolve()
{
    m_new = symbol<NewFn>(m_handle, "MediaInfoA_New");
    m_delete = symbol<DeleteFn>(m_handle, "MediaInfoA_Delete");
    m_open = symbol<OpenFn>(m_handle, "MediaInfoA_Open");
    m_get = symbol<GetFn>(m_handle, "MediaInfoA_Get");
    m_countGet = symbol<CountFn>(m_handle, "MediaInfoA_Count_Get");
    m_option = symbol<OptionFn>(m_handle, "MediaInfoA_Option");
    return m_new && m_delete && m_open && m_get && m_countGet && m_option;
}

std::unique_ptr<MediaInfoLibrary::File> MediaInfoLibrary::open(const QString& path) const
{
    if (!isAvailable())
        return nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (isAscii(name))
        return openName(name);
    // The library turns names into file system bytes through the process
    // locale, which need not hold every letter (the C locale holds none
    // beyond ASCII). A descriptor's name is plain ASCII whatever the locale.
    const int descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    auto file = openName("/proc/self/fd/" + QByteArray::number(descriptor));
    ::close(descriptor);
    return file;
}

std::unique_ptr<MediaInfoLibrary::File> MediaInfoLibrary::openName(const QByteArray& name) const
{
    void* const handle = m_new();
    if (!handle)
        return nullptr;
    auto file = std::make_unique<File>(Key(), *this, handle);
    if (m_open(handle, name.constData()) == 0)
        return nullptr;
    return file;
}

MediaInfoLibrary::File::File(Key, const MediaInfoLibrary& library, void* handle)
    : m_library(library)
    , m_handle(handle)
{ }

MediaInfoLibrary::File::~File()
{
    m_library.m_delete(m_handle);
}

std::size_t MediaInfoLibrary::File::count(StreamKind kind) const
{
    // A stream number of -1 asks for the number of streams of the kind.
    return m_library.m_countGet(m_handle, static_cast<int>(kind), static_cast<std::size_t>(-1));
}

QString MediaInfoLibrary::File::get(
    StreamKind kind, std::size_t stream, const char* parameter) const
{
    const char* const value = m_library.m_get(
        m_handle, static_cast<int>(kind), stream, parameter, kInfoText, kInfoName);
    return value ? QString::fromUtf8(value) : QString();
}
