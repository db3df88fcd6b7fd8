#pragma once

// Small helpers shared by the request and stream tests.

#include "http/NetworkThread.h"

#include "server/TestHttpServer.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

// Bytes in a pattern that repeats rarely, so that bytes delivered twice,
// dropped or out of order show.
inline QByteArray pattern(qsizetype size, char seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(seed + (i * 7 + i / 251) % 253);
    return bytes;
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
