#pragma once

// Small helpers shared by the request and stream tests.

#include "http/NetworkThread.h"

#include "server/TestHttpServer.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <zlib.h>

// Bytes in a pattern that repeats rarely, so that bytes delivered twice,
// dropped or out of order show.
inline QByteArray pattern(qsizetype size, char seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(seed + (i * 7 + i / 251) % 253);
    return bytes;
}

// `data` deflated with zlib's window bits: 31 gzip, 15 zlib-wrapped, -15 raw.
inline QByteArray deflated(const QByteArray& data, int windowBits)
{
    z_stream stream {};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

inline TestReply withHeader(TestReply reply, const QByteArray& name, const QByteArray& value)
{
    reply.headers.append(qMakePair(name, value));
    return reply;
}

inline TestReply redirect(int status, const QByteArray& location)
{
    return withHeader(TestReply::text("moved", status), "Location", location);
}

// Lets every piece of work already posted to the network thread, and what it
// posted back to the main thread, run.
inline void settle()
{
    NetworkThread::postAndWait([] {});
    QCoreApplication::processEvents();
}
