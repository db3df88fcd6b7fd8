#pragma once

#include <QString>

#include <cstddef>
#include <memory>

// MediaInfo, loaded at run time from the system's libmediainfo through its
// plain C entry points. Missing library or entry points leave it unavailable;
// callers then treat every file as unreadable.
class MediaInfoLibrary {
public:
    // Stream kinds as the library numbers them.
    enum class StreamKind {
        General = 0,
        Video = 1,
        Audio = 2,
        Text = 3,
        Other = 4,
        Image = 5,
        Menu = 6
    };

    // The library of the process, loaded on first use; thread-safe.
    static const MediaInfoLibrary& shared();

    bool isAvailable() const { return m_handle != nullptr; }
    // Why it is not available, for the log.
    QString loadError() const { return m_loadError; }

private:
    // Lets only the library make files, while still allowing std::make_unique.
    struct Key {
        explicit Key() = default;
    };

public:
    // One opened media file. Each instance is used from one thread at a time.
    class File {
    public:
        File(Key, const MediaInfoLibrary& library, void* handle);
        File(const File&) = delete;
        File& operator=(const File&) = delete;
        ~File();

        std::size_t count(StreamKind kind) const;
        // The value of `parameter` (such as "Duration") of the stream, "" when absent.
        QString get(StreamKind kind, std::size_t stream, const char* parameter) const;

    private:
        const MediaInfoLibrary& m_library;
        void* m_handle;
    };

    // Opens `path`; null when the library is missing or does not recognise the file.
    std::unique_ptr<File> open(const QString& path) const;

    MediaInfoLibrary(const MediaInfoLibrary&) = delete;
    MediaInfoLibrary& operator=(const MediaInfoLibrary&) = delete;

private:
    MediaInfoLibrary();
    bool resolve();
    std::unique_ptr<File> openName(const QByteArray& name) const;

    using NewFn = void* (*)();
    using DeleteFn = void (*)(void*);
    using OpenFn = std::size_t (*)(void*, const char*);
    using GetFn = const char* (*)(void*, int, std::size_t, const char*, int, int);
    using CountFn = std::size_t (*)(void*, int, std::size_t);
    using OptionFn = const char* (*)(void*, const char*, const char*);

    void* m_handle = nullptr;
    QString m_loadError;
    NewFn m_new = nullptr;
    DeleteFn m_delete = nullptr;
    OpenFn m_open = nullptr;
    GetFn m_get = nullptr;
    CountFn m_countGet = nullptr;
    OptionFn m_option = nullptr;
};
