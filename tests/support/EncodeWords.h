#pragma once

#include "engine/AVEncoder.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

// Runs a command line given as words through `encode`, a bridge's entry
// (argc, argv, duration), the way a built block would reach it.
inline int encodeWordsWith(
    int (*encode)(int, const char* const*, int), const QStringList& arguments, int duration = 0)
{
    std::vector<QByteArray> words;
    for (const QString& argument : arguments)
        words.push_back(argument.toUtf8());
    std::vector<const char*> argv;
    for (const QByteArray& word : words)
        argv.push_back(word.constData());
    return encode(int(argv.size()), argv.data(), duration);
}

// The same through the ffmpeg bridge.
inline int encodeWords(const QStringList& arguments, int duration = 0)
{
    return encodeWordsWith(&AVEncoderEncode, arguments, duration);
}
