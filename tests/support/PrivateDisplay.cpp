#include "support/PrivateDisplay.h"

#include <QCoreApplication>
#include <QProcessEnvironment>

#include <array>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kReadyTimeoutMs = 10000;

// Reads Xvfb's display number from the pipe it writes it to once it accepts
// connections; empty when it did not within the time-out.
QString readDisplayNumber(int fd)
{
    QByteArray number;
    while (!number.endsWith('\n')) {
        pollfd ready { fd, POLLIN, 0 };
        if (::poll(&ready, 1, kReadyTimeoutMs) <= 0)
            return {};
        char byte = 0;
        const ssize_t count = ::read(fd, &byte, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return {};
        number += byte;
    }
    return QString::fromLatin1(number.trimmed());
}

} // namespace

void stopByPid(QProcess& process)
{
    const qint64 pid = process.processId();
    if (pid <= 0)
        return;
    ::kill(pid_t(pid), SIGTERM);
    if (!process.waitForFinished(3000)) {
        ::kill(pid_t(pid), SIGKILL);
        process.waitForFinished(3000);
    }
}

PrivateDisplay::~PrivateDisplay()
{
    for (const auto& player : m_players)
        stopByPid(*player);
    if (m_server)
        stopByPid(*m_server);
}

QString PrivateDisplay::start()
{
    std::array<int, 2> fds {};
    if (::pipe(fds.data()) != 0)
        return QStringLiteral("cannot make a pipe");
    // Only the write end reaches Xvfb.
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    m_server = std::make_unique<QProcess>();
    // Xvfb reports every display number it found taken on its way.
    m_server->setStandardOutputFile(QProcess::nullDevice());
    m_server->setStandardErrorFile(QProcess::nullDevice());
    m_server->start(QStringLiteral("Xvfb"),
        { "-displayfd", QString::number(fds[1]), "-screen", "0", "1920x1080x24", "-nolisten",
            "tcp" });
    ::close(fds[1]);
    const bool started = m_server->waitForStarted();
    const QString number = started ? readDisplayNumber(fds[0]) : QString();
    ::close(fds[0]);
    if (number.isEmpty())
        return started ? QStringLiteral("Xvfb did not report a display") : m_server->errorString();
    m_display = ':' + number;
    return {};
}

QString PrivateDisplay::showMovingPicture()
{
    return play({ "-an", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30" })
        ? QString()
        : QStringLiteral("cannot start ffplay");
}

QProcess* PrivateDisplay::play(const QStringList& arguments)
{
    auto player = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    player->setProcessEnvironment(environment);
    player->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player->setStandardOutputFile(QProcess::nullDevice());
    player->start(QStringLiteral("ffplay"),
        QStringList { "-loglevel", "error", "-noborder", "-left", "100", "-top", "100" }
            + arguments);
    if (!player->waitForStarted())
        return nullptr;
    m_players.push_back(std::move(player));
    return m_players.back().get();
}

TestUnderX runTestUnderPrivateDisplay(const QString& testName, const QStringList& extra)
{
    TestUnderX run;
    PrivateDisplay x;
    if (run.skipped = x.start(); !run.skipped.isEmpty())
        return run;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", x.display());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    for (const QString& variable : extra)
        environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--gtest_filter=") + testName, "--gtest_also_run_disabled_tests" });
    if (!child.waitForFinished(60'000))
        stopByPid(child);
    run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    run.output = child.readAll();
    return run;
}
