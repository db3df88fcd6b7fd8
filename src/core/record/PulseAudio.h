#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

#include <optional>
#include <vector>

// The user's sound server, reached through `pactl` (the pulse protocol is
// spoken by PulseAudio and by PipeWire's pulse server alike). Every call runs
// one short pactl child on the calling thread, for at most answerLimit(). We
// never start a server: when none answers, every query comes back empty and
// every change fails.

// One sink (output) or source (input) of the server.
struct PulseDevice {
    QString name; // the server's name for it, e.g. "alsa_output.pci-0000_00_1f.3.analog-stereo"
    QString description; // what the user sees
    bool isMonitor = false; // a source that carries what a sink plays
    std::vector<quint32> channelVolumes; // raw volumes per channel; 65536 is 100 %
};

// A loaded module as `pactl list short modules` shows it.
struct PulseModule {
    quint32 index = 0;
    QString name;
    QString argument;
};

namespace PulseAudio {

// The raw volume that stands for 100 %.
constexpr quint32 kNormalVolume = 65536;

// How long a call waits for the server's answer: five seconds, unless a test
// has set another; process-wide and thread-safe. A server that has not
// answered by then (stopped, hung) is taken for one that does not answer.
std::chrono::milliseconds answerLimit();
void setAnswerLimit(std::chrono::milliseconds limit);

// Whether a server answers (and pactl is installed).
bool serverReachable();
// The default sink's name, or nothing when it cannot be read.
std::optional<QString> defaultSink();
std::vector<PulseDevice> sinks();
std::vector<PulseDevice> sources();
std::vector<PulseModule> modules();

// Changes; each answers pactl's complaint, empty on success.
QString setDefaultSink(const QString& sink);
// One raw volume per channel, or one for all channels.
QString setSinkVolumes(const QString& sink, const std::vector<quint32>& volumes);
// Sets the volume of the playing stream (sink input) of that name, as a
// client names its stream; a complaint also when no such stream plays (yet).
QString setStreamVolume(const QString& streamName, quint32 volume);
// The loaded module's index, or nothing with `error` set.
std::optional<quint32> loadModule(
    const QString& name, const QStringList& arguments, QString* error);
QString unloadModule(quint32 index);

// Parsers of pactl's output, open for tests.
std::vector<PulseDevice> parseDevices(const QByteArray& json);
std::vector<PulseModule> parseModules(const QString& shortList);

} // namespace PulseAudio
