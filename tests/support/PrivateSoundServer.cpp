#include "support/PrivateSoundServer.h"

#include "support/PrivateDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcessEnvironment>

#include <cstdlib>

#include <csignal>

namespace {

constexpr int kReadyTimeoutMs = 10000;

} // namespace

PrivateSoundServer::~PrivateSoundServer()
{
    if (m_server)
        stopByPid(*m_server);
}

QString PrivateSoundServer::pactl(const QStringList& arguments, bool* ok)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    const bool finished = process.waitForFinished(5000);
    const bool succeeded
        = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (ok)
        *ok = succeeded;
    return succeeded ? QString::fromUtf8(process.readAllStandardOutput()).trimmed() : QString();
}

QString PrivateSoundServer::start()
{
    if (!m_root.isValid())
        return QStringLiteral("cannot make a temporary folder");
    const QString runtime = m_root.path() + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QDir().mkpath(m_root.path() + QStringLiteral("/home"));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("HOME"), m_root.path() + QStringLiteral("/home"));
    environment.remove(QStringLiteral("PULSE_SERVER"));
    m_server = std::make_unique<QProcess>();
    m_server->setProcessEnvironment(environment);
    m_server->setProcessChannelMode(QProcess::MergedChannels);
    m_server->setStandardOutputFile(m_root.path() + QStringLiteral("/server.log"));
    m_server->start(QStringLiteral("pulseaudio"),
        { "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--disable-shm=yes",
            "--load=module-native-protocol-unix", "--load=module-null-sink sink_name=speakers" });
    if (!m_server->waitForStarted())
        return m_server->errorString();
    m_address = QStringLiteral("unix:") + runtime + QStringLiteral("/pulse/native");
    pointAtThisServer();
    // Ready once a client is answered; each try waits for the server's own
    // answer or refusal, the server's end ends the wait.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kReadyTimeoutMs) {
        bool answered = false;
        pactl({ "info" }, &answered);
        if (answered)
            return {};
        if (m_server->waitForFinished(50))
            return QStringLiteral("pulseaudio ended at start; see ") + m_root.path()
                + QStringLiteral("/server.log");
    }
    return QStringLiteral("pulseaudio did not answer");
}

QString PrivateSoundServer::addSineMicrophone(int frequency)
{
    bool ok = false;
    pactl({ "load-module", "module-sine-source", "source_name=microphone",
              "frequency=" + QString::number(frequency) },
        &ok);
    return ok ? QString() : QStringLiteral("cannot load a sine source");
}

void PrivateSoundServer::pointAtNoServer()
{
    ::setenv("PULSE_SERVER", "unix:/nonexistent/quillon-test/pulse/native", 1);
}

void PrivateSoundServer::pointAtThisServer() const
{
    ::setenv("PULSE_SERVER", m_address.toUtf8().constData(), 1);
}

bool PrivateSoundServer::signal(int number) const
{
    return m_server && m_server->processId() > 0
        && ::kill(pid_t(m_server->processId()), number) == 0;
}
