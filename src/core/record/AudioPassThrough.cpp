#include "record/AudioPassThrough.h"

#include <cstdio>

namespace {

// A short delay from the virtual device to the speakers; the server's
// default (200 ms) is heard as an echo of the picture.
constexpr int kLatencyMilliseconds = 25;

} // namespace

AudioPassThrough::AudioPassThrough(const QString& virtualSink, const QString& outputSink)
    : mVirtualSink(virtualSink)
    , mOutputSink(outputSink)
{ }

AudioPassThrough::~AudioPassThrough()
{
    Stop();
}

const char* AudioPassThrough::moduleName()
{
    return "module-loopback";
}

QStringList AudioPassThrough::moduleArguments(const QString& virtualSink, const QString& outputSink)
{
    return { QStringLiteral("source=%1.monitor").arg(virtualSink),
        QStringLiteral("sink=%1").arg(outputSink),
        QStringLiteral("latency_msec=%1").arg(kLatencyMilliseconds) };
}

bool AudioPassThrough::isOurLoopback(const PulseModule& module, const QString& virtualSink)
{
    return module.name == QLatin1String(moduleName())
        && module.argument.split(' ').contains(
            QStringLiteral("source=%1.monitor").arg(virtualSink));
}

bool AudioPassThrough::Start()
{
    if (mModuleIndex)
        return true;
    QString error;
    mModuleIndex = PulseAudio::loadModule(
        QLatin1String(moduleName()), moduleArguments(mVirtualSink, mOutputSink), &error);
    if (!mModuleIndex)
        std::fprintf(stderr, "cannot start the sound pass-through: %s\n", qPrintable(error));
    return mModuleIndex.has_value();
}

void AudioPassThrough::Stop()
{
    if (!mModuleIndex)
        return;
    const QString error = PulseAudio::unloadModule(*mModuleIndex);
    if (!error.isEmpty())
        std::fprintf(stderr, "cannot stop the sound pass-through: %s\n", qPrintable(error));
    mModuleIndex.reset();
}
