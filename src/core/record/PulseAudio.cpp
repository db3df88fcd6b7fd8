#include "record/PulseAudio.h"

#include "platform/ProcessRunner.h"
#include "platform/RunDeadline.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <csignal>

namespace {

using namespace std::chrono_literals;

// A server that answers does so in milliseconds; one that is stopped or hangs
// never does (pactl itself waits 30 s for it).
std::atomic<std::chrono::milliseconds> answerLimitNow { 5000ms };

struct PactlAnswer {
    bool succeeded = false;
    QByteArray output;
    QString complaint; // the last line pactl wrote on its standard error
};

PactlAnswer runPactl(const QStringList& arguments)
{
    PactlAnswer answer;
    ProcessRunner runner;
    runner.setStdoutHandler([&answer](const QString& line) {
        answer.output += line.toUtf8();
        answer.output += '\n';
    });
    runner.setStderrHandler([&answer](const QString& line) { answer.complaint = line; });
    // pactl only waits on the server: nothing is lost by killing it.
    runner.setGentleStop({ SIGKILL, {} }, 1000ms);
    const std::chrono::milliseconds limit = PulseAudio::answerLimit();
    ProcessRunner::Result result;
    {
        const RunDeadline deadline(limit, [&runner] { runner.stop(); });
        result = runner.run(QStringLiteral("pactl"), arguments);
    }
    // Only the deadline stops it.
    const bool unanswered = result.stopped;
    answer.succeeded = result.succeeded() && !unanswered;
    if (!result.started)
        answer.complaint = result.error;
    else if (unanswered)
        answer.complaint = QStringLiteral("the sound server did not answer pactl %1 within %2 s")
                               .arg(arguments.value(0))
                               .arg(double(limit.count()) / 1000.0);
    else if (!answer.succeeded && answer.complaint.isEmpty())
        answer.complaint = QStringLiteral("pactl %1 failed").arg(arguments.value(0));
    return answer;
}

QString complaintOf(const QStringList& arguments)
{
    const PactlAnswer answer = runPactl(arguments);
    return answer.succeeded ? QString() : answer.complaint;
}

// The volumes in the order of the device's channel map, the order in which
// set-sink-volume takes them back (the volume object's keys come sorted).
std::vector<quint32> channelVolumes(const QJsonObject& device)
{
    const QJsonObject volume = device.value(QLatin1String("volume")).toObject();
    const QStringList channels
        = device.value(QLatin1String("channel_map")).toString().split(',', Qt::SkipEmptyParts);
    std::vector<quint32> volumes;
    for (const QString& channel : channels) {
        const QJsonValue value = volume.value(channel).toObject().value(QLatin1String("value"));
        volumes.push_back(static_cast<quint32>(value.toDouble()));
    }
    return volumes;
}

PulseDevice deviceFrom(const QJsonObject& object)
{
    PulseDevice device;
    device.name = object.value(QLatin1String("name")).toString();
    device.description = object.value(QLatin1String("description")).toString();
    const QJsonObject properties = object.value(QLatin1String("properties")).toObject();
    device.isMonitor
        = properties.value(QLatin1String("device.class")).toString() == QLatin1String("monitor");
    device.channelVolumes = channelVolumes(object);
    return device;
}

} // namespace

namespace PulseAudio {

std::chrono::milliseconds answerLimit()
{
    return answerLimitNow.load();
}

void setAnswerLimit(std::chrono::milliseconds limit)
{
    answerLimitNow = limit;
}

bool serverReachable()
{
    return runPactl({ QStringLiteral("info") }).succeeded;
}

std::optional<QString> defaultSink()
{
    const PactlAnswer answer = runPactl({ QStringLiteral("get-default-sink") });
    const QString name = QString::fromUtf8(answer.output).trimmed();
    if (!answer.succeeded || name.isEmpty())
        return std::nullopt;
    return name;
}

std::vector<PulseDevice> sinks()
{
    return parseDevices(runPactl({ "-f", "json", "list", "sinks" }).output);
}

std::vector<PulseDevice> sources()
{
    return parseDevices(runPactl({ "-f", "json", "list", "sources" }).output);
}

std::vector<PulseModule> modules()
{
    return parseModules(QString::fromUtf8(runPactl({ "list", "short", "modules" }).output));
}

QString setDefaultSink(const QString& sink)
{
    return complaintOf({ QStringLiteral("set-default-sink"), sink });
}

QString setSinkVolumes(const QString& sink, const std::vector<quint32>& volumes)
{
    QStringList arguments { QStringLiteral("set-sink-volume"), sink };
    for (const quint32 volume : volumes)
        arguments << QString::number(volume);
    return complaintOf(arguments);
}

QString setStreamVolume(const QString& streamName, quint32 volume)
{
    const QJsonArray streams
        = QJsonDocument::fromJson(runPactl({ "-f", "json", "list", "sink-inputs" }).output).array();
    for (const QJsonValue& stream : streams) {
        const QJsonObject object = stream.toObject();
        if (object.value(QLatin1String("properties"))
                .toObject()
                .value(QLatin1String("media.name"))
                .toString()
            == streamName)
            return complaintOf({ QStringLiteral("set-sink-input-volume"),
                QString::number(object.value(QLatin1String("index")).toInteger()),
                QString::number(volume) });
    }
    return QStringLiteral("no sound stream \"%1\" plays").arg(streamName);
}

std::optional<quint32> loadModule(const QString& name, const QStringList& arguments, QString* error)
{
    const PactlAnswer answer
        = runPactl(QStringList { QStringLiteral("load-module"), name } + arguments);
    bool isNumber = false;
    const quint32 index = QString::fromUtf8(answer.output).trimmed().toUInt(&isNumber);
    if (answer.succeeded && isNumber)
        return index;
    if (error)
        *error = answer.complaint.isEmpty() ? QStringLiteral("no module index") : answer.complaint;
    return std::nullopt;
}

QString unloadModule(quint32 index)
{
    return complaintOf({ QStringLiteral("unload-module"), QString::number(index) });
}

std::vector<PulseDevice> parseDevices(const QByteArray& json)
{
    std::vector<PulseDevice> devices;
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    for (const QJsonValue& value : array)
        devices.push_back(deviceFrom(value.toObject()));
    return devices;
}

std::vector<PulseModule> parseModules(const QString& shortList)
{
    std::vector<PulseModule> modules;
    for (const QString& line : shortList.split('\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split('\t');
        bool isNumber = false;
        const quint32 index = fields.value(0).toUInt(&isNumber);
        if (isNumber && fields.size() >= 2)
            modules.push_back({ index, fields.at(1), fields.value(2).trimmed() });
    }
    return modules;
}

} // namespace PulseAudio
