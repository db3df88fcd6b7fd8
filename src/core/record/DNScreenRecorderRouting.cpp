// The system-sound routing of DNScreenRecorder: while the system's sound is
// recorded, the sound server's default output is the virtual device, whose
// monitor is recorded, and a pass-through plays that monitor on the real
// output. Everything changed is written down in the user defaults first, so
// that a run that ends without undoing it (a crash) is undone by the next.
// All of it runs on the sound server's line (SoundServerCalls).
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

// The virtual device is one of the server's sources.
bool recordable()
{
    return !audioCaptureDevice(QLatin1String(kSystemAudioDeviceID)).source.isEmpty();
}

} // namespace

bool DNScreenRecorder::virtualDeviceInstalled()
{
    return UserDefaults::standard().boolValue(kInstalledKey);
}

VirtualDeviceState DNScreenRecorder::virtualDeviceState()
{
    VirtualDeviceState state;
    state.serverAnswers = PulseAudio::serverReachable();
    state.recordable = state.serverAnswers && recordable();
    return state;
}

void DNScreenRecorder::installVirtualDevice(std::function<void(const VirtualDeviceState&)> done)
{
    m_soundCalls.ask<VirtualDeviceState>(
        [side = m_serverSide] { return side->install(); }, std::move(done));
}

DNScreenRecorder::ServerSide::ServerSide() = default;

// What it still holds was given back by the recorder's last piece of work.
DNScreenRecorder::ServerSide::~ServerSide() = default;

VirtualDeviceState DNScreenRecorder::ServerSide::install()
{
    VirtualDeviceState state;
    state.serverAnswers = PulseAudio::serverReachable();
    if (!state.serverAnswers || !loadVirtualDevice(&state.problem))
        return state;
    UserDefaults::standard().setValue(kInstalledKey, true);
    UserDefaults::standard().synchronize();
    state.recordable = recordable();
    if (!state.recordable)
        state.problem
            = QStringLiteral("the sound server has no source \"%1.monitor\"").arg(virtualSink());
    return state;
}

bool DNScreenRecorder::ServerSide::loadVirtualDevice(QString* error)
{
    if (hasSink(virtualSink()))
        return true;
    const std::optional<quint32> module = PulseAudio::loadModule(QStringLiteral("module-null-sink"),
        { QStringLiteral("sink_name=") + virtualSink() }, error);
    if (!module)
        return false;
    virtualDeviceModule = module;
    return true;
}

// Only the module this recorder loaded, and only while it is still that one
// (a restarted server hands its index to another).
void DNScreenRecorder::ServerSide::unloadVirtualDevice()
{
    if (!virtualDeviceModule)
        return;
    const std::vector<PulseModule> modules = PulseAudio::modules();
    const bool stillOurs = std::any_of(
        modules.begin(), modules.end(), [index = *virtualDeviceModule](const PulseModule& module) {
            return module.index == index && module.name == QLatin1String("module-null-sink")
                && module.argument.contains(QStringLiteral("sink_name=") + virtualSink());
        });
    if (stillOurs)
        PulseAudio::unloadModule(*virtualDeviceModule);
    virtualDeviceModule.reset();
}

float DNScreenRecorder::virtualDeviceVolume(float left, float right)
{
    const float volume = (left + right) * 0.5f;
    return volume < 0.01f ? 0.5f : volume;
}

// The output the user listens to. The virtual device itself is never taken
// for it (its monitor would loop into itself): when it is the default
// already, the first other sink stands in.
std::optional<QString> DNScreenRecorder::realOutputSink()
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

void DNScreenRecorder::ServerSide::initConnections()
{
    if (routing)
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

bool DNScreenRecorder::ServerSide::routeInto(const QString& realSink)
{
    const AudioDevice output(realSink, false);
    routing = Routing { realSink, output.mChannelVolumes, std::nullopt };
    storeRouting(*routing);
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
    routing->loopbackModule = mEngine->moduleIndex();
    storeRouting(*routing);
    const QString failure = PulseAudio::setDefaultSink(virtualSink());
    if (!failure.isEmpty())
        complain(QStringLiteral("cannot make the virtual sound device the default: ") + failure);
    return failure.isEmpty();
}

// The routing is undone once, the pass-through's loopback with it.
int DNScreenRecorder::ServerSide::restoreSystemOutputDevice()
{
    if (!routing)
        return 0;
    Routing undone = *std::exchange(routing, std::nullopt);
    if (mEngine)
        undone.loopbackModule = mEngine->release();
    mEngine.reset();
    return undoRouting(undone);
}

// On the sound server's line, so that the window's thread never waits on a
// server that does not answer; the result of the recording waits for it
// (soundGivenBack), so that it comes with the sound given back.
void DNScreenRecorder::giveSoundBack()
{
    m_systemAudioRecord = false;
    ++m_soundGivebacks;
    m_soundCalls.ask<int>([side = m_serverSide] { return side->restoreSystemOutputDevice(); },
        [this](const int&) { soundGivenBack(); });
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
