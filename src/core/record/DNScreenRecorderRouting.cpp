// The system-sound routing of DNScreenRecorder: while the system's sound is
// recorded, the sound server's default output is the virtual device, whose
// monitor is recorded, and a pass-through plays that monitor on the real
// output. Everything changed is written down in the user defaults first, so
// that a run that ends without undoing it (a crash) is undone by the next.
#include "record/DNScreenRecorder.h"

#include "platform/UserDefaults.h"
#include "record/AudioDevice.h"
#include "record/AudioPassThrough.h"
#include "record/PulseAudio.h"

#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

const QString kRoutingKey = QStringLiteral("DNScreenRecorderSoundRouting");
const QString kInstalledKey = QStringLiteral("DNScreenRecorderSystemSoundInstalled");
const QString kSinkKey = QStringLiteral("sink");
const QString kVolumesKey = QStringLiteral("volumes");
const QString kModuleKey = QStringLiteral("loopbackModule");

QString virtualSink()
{
    return QLatin1String(kSystemAudioSinkName);
}

void complain(const QString& text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

float scalarOf(quint32 volume)
{
    return float(volume) / float(PulseAudio::kNormalVolume);
}

bool hasSink(const QString& name)
{
    const std::vector<PulseDevice> sinks = PulseAudio::sinks();
    return std::any_of(
        sinks.begin(), sinks.end(), [&name](const PulseDevice& sink) { return sink.name == name; });
}

} // namespace

bool DNScreenRecorder::virtualDeviceInstalled()
{
    return UserDefaults::standard().boolValue(kInstalledKey);
}

bool DNScreenRecorder::installVirtualDevice(QString* error)
{
    if (!loadVirtualDevice(error))
        return false;
    UserDefaults::standard().setValue(kInstalledKey, true);
    UserDefaults::standard().synchronize();
    return true;
}

bool DNScreenRecorder::loadVirtualDevice(QString* error)
{
    if (hasSink(virtualSink()))
        return true;
    const std::optional<quint32> module = PulseAudio::loadModule(QStringLiteral("module-null-sink"),
        { QStringLiteral("sink_name=") + virtualSink() }, error);
    if (!module)
        return false;
    m_virtualDeviceModule = module;
    return true;
}

// Only the module this recorder loaded, and only while it is still that one
// (a restarted server hands its index to another).
void DNScreenRecorder::unloadVirtualDevice()
{
    if (!m_virtualDeviceModule)
        return;
    const std::vector<PulseModule> modules = PulseAudio::modules();
    const bool stillOurs = std::any_of(modules.begin(), modules.end(),
        [index = *m_virtualDeviceModule](const PulseModule& module) {
            return module.index == index && module.name == QLatin1String("module-null-sink")
                && module.argument.contains(QStringLiteral("sink_name=") + virtualSink());
        });
    if (stillOurs)
        PulseAudio::unloadModule(*m_virtualDeviceModule);
    m_virtualDeviceModule.reset();
}

float DNScreenRecorder::virtualDeviceVolume(float left, float right)
{
    const float volume = (left + right) * 0.5f;
    return volume < 0.01f ? 0.5f : volume;
}

// The output the user listens to. The virtual device itself is never taken
// for it (its monitor would loop into itself): when it is the default
// already, the first other sink stands in.
std::optional<QString> DNScreenRecorder::realOutputSink() const
{
    const std::optional<QString> current = PulseAudio::defaultSink();
    if (current && *current != virtualSink())
        return current;
    for (const PulseDevice& sink : PulseAudio::sinks()) {
        if (sink.name != virtualSink())
            return sink.name;
    }
    return std::nullopt;
}

void DNScreenRecorder::initConnections()
{
    if (m_routing)
        return;
    // A routing a silent server kept from being undone is undone first.
    undoLeftoverRouting();
    if (!hasSink(virtualSink())) {
        complain(
            QStringLiteral("The virtual sound device \"%1\" is not installed.").arg(virtualSink()));
        return;
    }
    const std::optional<QString> realSink = realOutputSink();
    if (!realSink) {
        complain(QStringLiteral("There is no sound output to pass the system's sound on to."));
        return;
    }
    if (!routeInto(*realSink))
        restoreSystemOutputDevice();
}

bool DNScreenRecorder::routeInto(const QString& realSink)
{
    const AudioDevice output(realSink, false);
    m_routing = Routing { realSink, output.mChannelVolumes, std::nullopt };
    storeRouting(*m_routing);
    const std::vector<quint32>& volumes = output.mChannelVolumes;
    const float left = volumes.empty() ? 0.0f : scalarOf(volumes.front());
    const float right = volumes.size() > 1 ? scalarOf(volumes[1]) : left;
    const float volume = virtualDeviceVolume(left, right);
    complain(QStringLiteral("Current Volume: ") + QString::number(volume, 'f', 3));
    PulseAudio::setSinkVolumes(
        virtualSink(), { quint32(std::lround(volume * float(PulseAudio::kNormalVolume))) });
    mEngine = std::make_unique<AudioPassThrough>(virtualSink(), realSink);
    if (!mEngine->Start())
        return false;
    m_routing->loopbackModule = mEngine->moduleIndex();
    storeRouting(*m_routing);
    const QString failure = PulseAudio::setDefaultSink(virtualSink());
    if (!failure.isEmpty())
        complain(QStringLiteral("cannot make the virtual sound device the default: ") + failure);
    return failure.isEmpty();
}

// The routing to undo, the pass-through's loopback with it, taken from the
// recorder: it is undone once, on whichever thread.
std::optional<DNScreenRecorder::Routing> DNScreenRecorder::takeRouting()
{
    if (!m_routing)
        return std::nullopt;
    Routing routing = *std::exchange(m_routing, std::nullopt);
    if (mEngine)
        routing.loopbackModule = mEngine->release();
    mEngine.reset();
    return routing;
}

int DNScreenRecorder::restoreSystemOutputDevice()
{
    const std::optional<Routing> routing = takeRouting();
    return routing ? undoRouting(*routing) : 0;
}

// The calls to the server run on a thread of their own, so that the window's
// thread never waits on a server that does not answer; the result of the
// recording waits for them (soundGivenBack), so that it comes with the sound
// given back.
void DNScreenRecorder::giveSoundBack()
{
    m_systemAudioRecord = false;
    const std::optional<Routing> routing = takeRouting();
    if (!routing)
        return;
    waitForSoundWork();
    const quint64 work = ++m_soundWorks;
    m_soundWork = std::thread([this, routing = *routing, work] {
        undoRouting(routing);
        QMetaObject::invokeMethod(
            this, [this, work] { soundGivenBack(work); }, Qt::QueuedConnection);
    });
}

void DNScreenRecorder::waitForSoundWork()
{
    if (m_soundWork.joinable())
        m_soundWork.join();
}

// A server that does not answer keeps the routing written down, and the next
// recorder or recording of the system's sound undoes it (undoLeftoverRouting);
// each call waits a few seconds at most, and the first tells.
int DNScreenRecorder::undoRouting(const Routing& routing)
{
    if (!PulseAudio::serverReachable()) {
        complain(QStringLiteral("The sound server does not answer: the system's sound stays in "
                                "the virtual device until the next recorder, or the next "
                                "recording of the system's sound, gives it back."));
        return 1;
    }
    if (routing.loopbackModule) {
        const std::vector<PulseModule> modules = PulseAudio::modules();
        const bool stillOurs
            = std::any_of(modules.begin(), modules.end(), [&routing](const PulseModule& module) {
                  return module.index == *routing.loopbackModule
                      && AudioPassThrough::isOurLoopback(module, virtualSink());
              });
        if (stillOurs)
            PulseAudio::unloadModule(*routing.loopbackModule);
    }
    const std::optional<QString> current = PulseAudio::defaultSink();
    if (!current || *current == virtualSink()) {
        const QString failure = PulseAudio::setDefaultSink(routing.stashedSink);
        if (!failure.isEmpty()) {
            complain(QStringLiteral("cannot restore the sound output: ") + failure);
            return 1;
        }
    }
    if (!routing.stashedVolumes.empty())
        PulseAudio::setSinkVolumes(routing.stashedSink, routing.stashedVolumes);
    forgetRouting();
    return 0;
}

void DNScreenRecorder::undoLeftoverRouting()
{
    const QVariantMap stored = UserDefaults::standard().value(kRoutingKey).toMap();
    if (stored.isEmpty())
        return;
    Routing routing;
    routing.stashedSink = stored.value(kSinkKey).toString();
    for (const QVariant& volume : stored.value(kVolumesKey).toList())
        routing.stashedVolumes.push_back(volume.toUInt());
    if (stored.contains(kModuleKey))
        routing.loopbackModule = stored.value(kModuleKey).toUInt();
    if (routing.stashedSink.isEmpty()) {
        forgetRouting();
        return;
    }
    complain(QStringLiteral("Undoing the sound routing a recording left behind."));
    undoRouting(routing);
}

void DNScreenRecorder::storeRouting(const Routing& routing)
{
    QVariantList volumes;
    for (const quint32 volume : routing.stashedVolumes)
        volumes << volume;
    QVariantMap stored { { kSinkKey, routing.stashedSink }, { kVolumesKey, volumes } };
    if (routing.loopbackModule)
        stored.insert(kModuleKey, *routing.loopbackModule);
    UserDefaults::standard().setValue(kRoutingKey, stored);
    UserDefaults::standard().synchronize();
}

void DNScreenRecorder::forgetRouting()
{
    UserDefaults::standard().remove(kRoutingKey);
    UserDefaults::standard().synchronize();
}
