#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

// One engine command line: argument 0 is the program name, each argument a
// NUL-terminated UTF-8 text in a slot of its own. The bridges hand argc and
// argv.data() to the engines as they are.
constexpr int MaxArguNumber = 128;
constexpr int MaxCharLength = 2048;

struct ArgumentBlock {
    ArgumentBlock();
    ArgumentBlock(const ArgumentBlock&) = delete;
    ArgumentBlock& operator=(const ArgumentBlock&) = delete;

    // Whole seconds of output: the base of the engine's percent of progress.
    int32_t duration = 0;
    int32_t argc = 0;
    // Slot i, MaxCharLength zero-filled bytes; the slots lie in one buffer.
    std::array<char*, MaxArguNumber> argv {};

    // Arguments 0 to argc - 1, decoded from UTF-8.
    QStringList arguments() const;

private:
    std::unique_ptr<char[]> m_slots;
};

using ArgumentBlockPtr = std::unique_ptr<ArgumentBlock>;

// A new block: duration and argc 0, every slot an empty text.
ArgumentBlockPtr allocArgumentBlock();
// Releases the block with its slots; always 0.
int freeArgumentBlock(ArgumentBlockPtr block);

// Why the last build on this thread made no command line, in the words of
// the builder that refused it: the driver takes it (and clears it) for the
// failure it reports.
void noteBuildRefusal(const QString& reason);
QString takeBuildRefusal();

// The user's subtitle that the last build on this thread put into its command
// line, named as the user knows it ("file \"/films/a.srt\""), so that a
// failed run can say what it read; the driver takes it (and clears it).
void noteBuildSubtitle(const QString& name);
QString takeBuildSubtitle();

// Why the subtitle the user chose cannot go into the output of the last
// build on this thread, naming it: the driver takes it (and clears it) and
// fails the run rather than make an output without it.
void noteBuildSubtitleLeftOut(const QString& reason);
QString takeBuildSubtitleLeftOut();

// The one way builders fill a block. Every argument goes into the next slot
// and is checked against the slot size and the argument count: an argument of
// MaxCharLength bytes or more, one with a NUL inside, or a MaxArguNumber-th
// argument, is refused without touching any other slot. After a refusal every later write is
// ignored and finish() logs the reason with the builder's name and returns
// null, so the conversion fails instead of running a truncated command line.
//
//     ArgumentWriter w("Video_To_MKV_With_AVEncoder");
//     w.add("ffmpeg").add("-i").add(sourcePath).addf("%d", seconds);
//     return w.finish(duration);
class ArgumentWriter {
public:
    explicit ArgumentWriter(const char* builderName);
    ArgumentWriter(const ArgumentWriter&) = delete;
    ArgumentWriter& operator=(const ArgumentWriter&) = delete;

    ArgumentWriter& add(const char* text);
    ArgumentWriter& add(const QString& text);
    ArgumentWriter& add(const QByteArray& text);
    // printf-style; numbers are written in the C locale whatever the user's
    // locale, so 29.97 never becomes "29,97".
    ArgumentWriter& addf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Arguments written so far.
    int count() const;
    bool failed() const { return !m_failure.isEmpty(); }
    // The limit that refused an argument, empty when none did.
    QString failure() const { return m_failure; }
    // The block being filled (null after finish()).
    const ArgumentBlock* block() const { return m_block.get(); }

    // Sets the duration and hands the block over, or logs the refusal and
    // returns null.
    ArgumentBlockPtr finish(int32_t duration);

private:
    bool reserveSlot();
    void write(std::string_view bytes);
    void refuse(const char* assertion);

    const char* m_builderName;
    ArgumentBlockPtr m_block;
    QString m_failure;
};
