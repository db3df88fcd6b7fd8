#pragma once

#include "engine/AVEncoder.h"

#include <QByteArray>
#include <QStringList>

#include <vector>

// Runs a command line given as words through the ffmpeg bridge, the way a
// built block would reach it.
inline int encodeWords(const QStringList& arguments, int duration = 0)
{
    std::vector<QByteArray> words;
    for (const QString& argument : arguments)
        words.push_back(argument.toUtf8());
    std::vector<const char*> argv;
    for (const QByteArray& word : words)
        argv.push_back(word.constData());
    return AVEncoderEncode(int(argv.size()), argv.data(), duration);
}
