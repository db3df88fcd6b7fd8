#pragma once

#include <QIODevice>

#include <memory>

// The body of a request, pulled by the transport on the network thread as the
// connection can take more. read() returns the number of bytes copied, 0 at
// the end of the body, or -1 on error. A source that wants to slow the upload
// down returns fewer bytes, never 0 before its end.
class HttpBodyStream {
public:
    virtual ~HttpBodyStream() = default;
    virtual qint64 read(char* data, qint64 maxLength) = 0;

    // A body read from a device that is already open for reading (a file, a
    // buffer). The device must not be used elsewhere while the stream runs.
    static std::unique_ptr<HttpBodyStream> fromDevice(std::unique_ptr<QIODevice> device);
};
