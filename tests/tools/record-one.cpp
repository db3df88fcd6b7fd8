// record-one: records the screen through the real screen recorder and says
// what it did.
//
//   record-one --seconds S [--region X,Y,WxH] [--fps N] [--preset 0|1|2]
//              [--audio none|system|SOURCE] --output FILE
//
// Prints "region:", "audio:", "ran:" (the ffmpeg command, ready to paste),
// "frames:" and "output:" lines. The exit status is 0 only for a good
// recording; otherwise the reason is printed after "error:". A region off the
// screen or a frame rate the recorder does not take is refused. "system"
// records the system's sound through the virtual device, which is loaded into
// the sound server for the run when it is missing. Settings and log live in a
// temporary folder, so the program's own settings are neither read nor changed.
#include "platform/ProcessRunner.h"
#include "record/AudioDevice.h"
#include "record/DNScreenRecorder.h"

#include "ToolSupport.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

namespace {

int fail(const QString& reason)
{
    print("error: " + reason);
    return 1;
}

struct Options {
    double seconds = 0;
    std::optional<QRect> region; // none: the whole screen
    int frameRate = 10; // the recorder window's default
    quint64 preset = 2; // the recorder window's default: the region's own size
    QString audio = QStringLiteral("none");
    QString output;
};

std::optional<QRect> parseRegion(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d+),(\\d+),(\\d+)x(\\d+)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
        match.captured(4).toInt());
}

std::optional<Options> parseOptions(const QCommandLineParser& parser, QString* error)
{
    Options options;
    options.seconds = parser.value("seconds").toDouble();
    options.output = parser.value("output");
    if (parser.isSet("fps"))
        options.frameRate = parser.value("fps").toInt();
    // The window offers three presets; a larger index is a slip here.
    if (parser.isSet("preset")) {
        bool number = false;
        options.preset = parser.value("preset").toULongLong(&number);
        if (!number || options.preset > 2) {
            *error = QStringLiteral("the preset must be 0, 1 or 2");
            return std::nullopt;
        }
    }
    if (parser.isSet("audio"))
        options.audio = parser.value("audio");
    if (parser.isSet("region")) {
        const std::optional<QRect> region = parseRegion(parser.value("region"));
        if (!region) {
            *error = QStringLiteral("the region must read X,Y,WxH");
            return std::nullopt;
        }
        options.region = region;
    }
    if (options.seconds <= 0 || options.output.isEmpty()) {
        *error = QStringLiteral("--seconds and --output are required");
        return std::nullopt;
    }
    return options;
}

// The recorder asks the sound server off this thread; its answers are waited for here.
QString chooseAudio(DNScreenRecorder& recorder, const QString& audio)
{
    if (audio == QLatin1String("none"))
        return QStringLiteral("none");
    const bool system = audio == QLatin1String("system");
    QEventLoop wait;
    if (system) {
        // Normally installed from the recorder window; unloaded with the recorder.
        recorder.installVirtualDevice([&wait](const VirtualDeviceState& state) {
            if (state.serverAnswers && !state.recordable)
                std::fprintf(stderr, "record-one: cannot add the virtual device: %s\n",
                    qPrintable(state.problem));
            wait.quit();
        });
        wait.exec();
    }
    QString problem;
    QObject::connect(&recorder, &DNScreenRecorder::audioDeviceSet, &wait,
        [&wait, &problem](bool, const QString& why) {
            problem = why;
            wait.quit();
        });
    recorder.setAudioDevice(system ? QString(kSystemAudioDeviceID) : audio);
    wait.exec();
    if (recorder.audioSource().isEmpty())
        return "none (" + problem + ')';
    return recorder.audioSource();
}

class Reporter : public DNScreenRecorderDelegate {
public:
    int status = 1;
    void screenRecorder(DNScreenRecorder& recorder, const DNRecordingResult& result) override
    {
        print("ran: " + shellCommandLine(recorder.lastCommand()));
        print(QStringLiteral("frames: %1 recorded, %2 dropped")
                  .arg(result.framesRecorded)
                  .arg(result.framesDropped));
        print("output: " + result.path);
        status = result.succeeded ? 0 : fail(result.reason);
        QCoreApplication::exit(status);
    }
};

int record(const Options& options)
{
    QString error;
    const std::unique_ptr<DNScreenRecorder> recorder = DNScreenRecorder::create(&error);
    if (!recorder)
        return fail(error);
    recorder->setSessionPreset(sessionPresetAtIndex(options.preset));
    recorder->setMaxScreenInputFramerate(float(options.frameRate));
    if (options.region)
        recorder->addDislayInputTocaptureSession(recorder->displayID(), *options.region);
    const QRect region = recorder->captureRegion();
    print(QStringLiteral("region: %1,%2,%3x%4")
              .arg(region.x())
              .arg(region.y())
              .arg(region.width())
              .arg(region.height()));
    print("audio: " + chooseAudio(*recorder, options.audio));
    Reporter reporter;
    recorder->setDelegate(&reporter);
    if (!recorder->startRecord(options.output, &error))
        return fail(error);
    // The length counts from the first recorded frame: opening the sound
    // server's source alone may take a second. The stop comes by the clock
    // from there, not at the next report.
    // The time left is set again at each report, whose view of the first
    // picture gets nearer while the encoder catches up.
    QTimer stop;
    stop.setSingleShot(true);
    bool stopped = false;
    QObject::connect(&stop, &QTimer::timeout, recorder.get(), [&recorder, &stopped] {
        stopped = true;
        recorder->stopRecord();
    });
    QObject::connect(recorder.get(), &DNScreenRecorder::recordingProgress, recorder.get(),
        [&stop, &options, &stopped](double seconds) {
            if (!stopped)
                stop.start(int(std::max(0.0, options.seconds - seconds) * 1000));
        });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (home.isValid()) {
        ::setenv("XDG_CONFIG_HOME", qPrintable(home.path() + "/config"), 1);
        ::setenv("XDG_DATA_HOME", qPrintable(home.path() + "/data"), 1);
    }
    const ToolCommandLine commandLine { "Records the screen through the screen recorder.",
        { { "seconds", "Length of the recording.", "S" },
            { "region", "Region to record (default: the whole screen).", "X,Y,WxH" },
            { "fps", "Frames per second.", "N" }, { "preset", "Quality preset index.", "I" },
            { "audio", "none, system or a sound source.", "AUDIO" },
            { "output", "The movie to write.", "FILE" } } };
    const int status = runTool(argc, argv, commandLine, [](const QCommandLineParser& parser) {
        QString error;
        const std::optional<Options> options = parseOptions(parser, &error);
        return options ? record(*options) : fail(error);
    });
    // The log's run lock lies in the data folder above, which goes first.
    DNLogger::shareRoughLog().close();
    return status;
}
