#include "http/NXPACEvaluator.h"

#include "http/HttpMessage.h"
#include "http/HttpResponseParser.h"

#include <QEventLoop>
#include <QFile>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <unistd.h>

// Reading a proxy auto-configuration script, from a file or over http(s),
// always within a time limit: a file may be a pipe nobody ever writes to, a
// server may answer half a script and fall silent.

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr qsizetype kMaxScriptBytes = 4 * 1024 * 1024;

int millisecondsLeft(SteadyClock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return int(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
}

QByteArray failWith(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return {};
}

// Reads the whole file without ever blocking past the deadline.
QByteArray readFile(const QString& path, SteadyClock::time_point deadline, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failWith(error, QStringLiteral("cannot open the script %1").arg(path));
    QByteArray bytes;
    char buffer[16384];
    while (true) {
        pollfd wait { fd, POLLIN, 0 };
        const int ready = ::poll(&wait, 1, millisecondsLeft(deadline));
        if (ready == 0)
            break;
        const ssize_t got = ready < 0 ? -1 : ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0 || bytes.size() + got > kMaxScriptBytes) {
            ::close(fd);
            if (got == 0)
                return bytes;
            return failWith(error, QStringLiteral("cannot read the script %1").arg(path));
        }
        bytes.append(buffer, got);
    }
    ::close(fd);
    return failWith(error, QStringLiteral("reading the script %1 took too long").arg(path));
}

// One GET on a connection of its own, read with the transport's parser.
class ScriptDownload {
public:
    ScriptDownload(const QUrl& url, SteadyClock::time_point deadline)
        : m_url(url)
        , m_deadline(deadline)
    { }

    QByteArray run(QString* error)
    {
        const bool secure
            = m_url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
        m_socket = secure ? std::make_unique<QSslSocket>() : std::make_unique<QTcpSocket>();
        m_parser.setRequestMethod(QStringLiteral("GET"));
        wire(secure);
        QTimer::singleShot(
            millisecondsLeft(m_deadline), &m_loop, [this] { quit(latin("took too long")); });
        const quint16 port = quint16(m_url.port(secure ? 443 : 80));
        if (secure)
            static_cast<QSslSocket*>(m_socket.get())->connectToHostEncrypted(m_url.host(), port);
        else
            m_socket->connectToHost(m_url.host(), port);
        m_loop.exec();
        QObject::disconnect(m_socket.get(), nullptr, nullptr, nullptr);
        m_socket->abort();
        return outcome(error);
    }

private:
    static QString latin(const char* text) { return QString::fromLatin1(text); }

    void wire(bool secure)
    {
        QTcpSocket* socket = m_socket.get();
        if (secure)
            QObject::connect(static_cast<QSslSocket*>(socket), &QSslSocket::encrypted, &m_loop,
                [this] { sendRequest(); });
        else
            QObject::connect(socket, &QTcpSocket::connected, &m_loop, [this] { sendRequest(); });
        QObject::connect(socket, &QTcpSocket::readyRead, &m_loop, [this] { readMore(); });
        QObject::connect(socket, &QTcpSocket::disconnected, &m_loop, [this] {
            readMore();
            if (!m_parser.isComplete() && !m_parser.hasError())
                m_parser.finish();
            quit({});
        });
        QObject::connect(
            socket, &QTcpSocket::errorOccurred, &m_loop, [this](QAbstractSocket::SocketError code) {
                if (code != QAbstractSocket::RemoteHostClosedError)
                    quit(m_socket->errorString());
            });
    }

    void sendRequest()
    {
        HttpMessage request = HttpMessage::request(QStringLiteral("GET"), m_url);
        request.setHeader(QStringLiteral("Accept"), QStringLiteral("*/*"));
        request.setHeader(QStringLiteral("Connection"), QStringLiteral("close"));
        const QString problem = request.wireProblem();
        if (!problem.isEmpty())
            return quit(problem);
        m_socket->write(request.serializedHead(false));
    }

    void readMore()
    {
        if (!m_socket->isOpen())
            return;
        const QByteArray bytes = m_socket->readAll();
        m_parser.feed(bytes.constData(), bytes.size(), m_body);
        if (m_body.size() > kMaxScriptBytes)
            return quit(latin("the script is too large"));
        if (m_parser.isComplete() || m_parser.hasError())
            quit({});
    }

    void quit(const QString& why)
    {
        if (m_why.isEmpty())
            m_why = why;
        m_loop.quit();
    }

    QByteArray outcome(QString* error) const
    {
        const QString where = m_url.toString(QUrl::RemoveUserInfo);
        if (!m_parser.isComplete()) {
            const QString why = m_parser.hasError() ? m_parser.errorString() : m_why;
            return failWith(
                error, QStringLiteral("cannot download the script %1: %2").arg(where, why));
        }
        const int status = m_parser.response().statusCode();
        if (status < 200 || status > 299)
            return failWith(
                error, QStringLiteral("the script %1 answered %2").arg(where).arg(status));
        return m_body;
    }

    QUrl m_url;
    SteadyClock::time_point m_deadline;
    std::unique_ptr<QTcpSocket> m_socket;
    HttpResponseParser m_parser;
    QByteArray m_body;
    QEventLoop m_loop;
    QString m_why;
};

} // namespace

QString NXPACEvaluator::fetchScript(
    const QUrl& scriptUrl, std::chrono::milliseconds timeOut, QString* error)
{
    const auto deadline = SteadyClock::now() + timeOut;
    const QString scheme = scriptUrl.scheme().toLower();
    QByteArray bytes;
    if (scriptUrl.isLocalFile())
        bytes = readFile(scriptUrl.toLocalFile(), deadline, error);
    else if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        bytes = ScriptDownload(scriptUrl, deadline).run(error);
    else
        failWith(error, QStringLiteral("no script can be read from %1").arg(scriptUrl.toString()));
    return decodeScript(bytes);
}
