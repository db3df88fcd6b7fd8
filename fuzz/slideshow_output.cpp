// The slideshow engine's standard output, read by NXImageEngine::handleOutput
// as the render reads it ("progress:<total>:<current>:<photo>" and
// "result:<code>:<movie>" lines). The process runner hands it one line at a
// time; handleOutput also takes several at once, and both must leave the same
// counts, photo and movie.
#include "FuzzSupport.h"

#include "slideshow/NXImageEngine.h"

namespace {

struct Outcome {
    quint64 total = 0;
    quint64 current = 0;
    QVariant photo;
    QString movie;

    bool operator==(const Outcome&) const = default;
};

Outcome outcomeOf(const NXImageEngine& engine)
{
    return { engine.totalFrames(), engine.currentFrame(), engine.currentImagePath(),
        engine.finiallyVideoPath() };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(Fuzz::bytesOf(data, size));
    NXImageEngine whole;
    whole.handleOutput(text);
    NXImageEngine lineByLine;
    for (const QString& line : text.split(QLatin1Char('\n')))
        lineByLine.handleOutput(line);
    Fuzz::require(
        outcomeOf(lineByLine) == outcomeOf(whole), "read line by line, the output says otherwise");
    return 0;
}
