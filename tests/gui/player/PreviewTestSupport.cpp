#include "gui/player/PreviewTestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "player/NXMPlayerControl.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"

#include <QFileInfo>

#include <cmath>

namespace {

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace

XvfbServer::XvfbServer()
{
    // The server writes the number of the display it took to descriptor 1.
    m_process.start("Xvfb",
        { "-displayfd", "1", "-screen", "0", "1280x720x24", "-nolisten", "tcp", "-noreset" });
    if (!m_process.waitForStarted(5000))
        return;
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) { }
    const QByteArray number = m_process.readLine().trimmed();
    if (!number.isEmpty())
        m_display = ":" + QString::fromLatin1(number);
}

XvfbServer::~XvfbServer()
{
    stop(m_process);
}

PulseServer::PulseServer()
{
    if (!m_runtime.isValid())
        return;
    const QString socket = m_runtime.filePath("native");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", m_runtime.path());
    environment.insert("HOME", m_runtime.path());
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start("pulseaudio",
        { "-n", "--daemonize=no", "--use-pid-file=no", "--exit-idle-time=-1", "--log-level=error",
            "-L", "module-null-sink sink_name=quillon_null", "-L",
            "module-native-protocol-unix socket=" + socket });
    if (!m_process.waitForStarted(5000))
        return;
    m_address = "unix:" + socket;
    const bool answers = waitUntil(
        [&] {
            return m_process.state() == QProcess::Running && QFileInfo::exists(socket)
                && !pactl({ "info" }).isEmpty();
        },
        10000);
    if (!answers)
        m_address.clear();
}

PulseServer::~PulseServer()
{
    stop(m_process);
}

QString PulseServer::pactl(const QStringList& arguments) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PULSE_SERVER", "unix:" + m_runtime.filePath("native"));
    process.setProcessEnvironment(environment);
    process.start("pactl", arguments);
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool PreviewClips::ffmpeg(const QStringList& arguments, const QString& output)
{
    QProcess process;
    process.start("ffmpeg",
        QStringList { "-nostdin", "-v", "error", "-y" } + arguments + QStringList { output });
    return process.waitForFinished(60'000) && process.exitCode() == 0;
}

bool PreviewClips::makeShades(const QString& output, int seconds, bool withSound)
{
    const QString pictures = QStringLiteral("nullsrc=size=640x360:rate=10:duration=%1,"
                                            "geq=lum='if(lt(X,64)*lt(Y,64),30+20*floor(T),128)'"
                                            ":cb=128:cr=128")
                                 .arg(seconds);
    QStringList arguments { "-f", "lavfi", "-i", pictures };
    if (withSound)
        arguments << "-f"
                  << "lavfi"
                  << "-i" << QStringLiteral("sine=frequency=440:duration=%1").arg(seconds) << "-c:a"
                  << "aac";
    return ffmpeg(arguments
            + QStringList { "-c:v", "libx264", "-preset", "ultrafast", "-g", "10", "-pix_fmt",
                "yuv420p" },
        output);
}

int PreviewClips::secondShown(const QImage& painted, const QRectF& picture)
{
    const double scale = picture.width() / 640.0;
    const QPoint box = (picture.topLeft() + QPointF(32, 32) * scale).toPoint();
    // The box is grey, so any channel gives back its luma: (Y - 16) x 255 / 219.
    const double luma = 16 + qRed(painted.pixel(box)) * 219.0 / 255.0;
    return static_cast<int>(std::lround((luma - 30) / 20));
}

PreviewWindow::PreviewWindow()
{
    qputenv("QUILLON_PLAYER_AO", "null");
    window.emplace(DNSetting::shareSetting(), DNProfileManager::profileManager(),
        UserDefaults::standard(), dialogs, system);
    window->show();
    NotificationCenter::defaultCenter().addObserver(
        {}, player(), &*window, [this](const Notification& note) { posted << note.name; });
}

PreviewWindow::~PreviewWindow() = default;

NXMPlayerControl* PreviewWindow::player() const
{
    return window->playerControl();
}

NXMPlayerView& PreviewWindow::view() const
{
    return *window->playerView();
}

bool PreviewWindow::waitFor(const QString& name, int count)
{
    return waitUntil([&] { return posted.count(name) >= count; });
}
