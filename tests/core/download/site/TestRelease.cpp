#include "TestRelease.h"

#include "support/TestFiles.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <csignal>

#include <sys/wait.h>

namespace {

// One identity per key; an ed25519 key is made in a blink.
const QString kReleaseUser = QStringLiteral("Test Release <release@example.test>");
const QString kOtherUser = QStringLiteral("Someone Else <else@example.test>");

} // namespace

TestRelease::~TestRelease()
{
    if (!m_home.isValid())
        return;
    // gpg started an agent for the secret keys, for this home only, and left
    // it running on its own. A test that is a child subreaper has adopted it
    // and must reap it too, or it stays behind as a child of the test.
    QProcess ask;
    ask.start(QStringLiteral("gpg-connect-agent"),
        { "--homedir", m_home.path(), "--no-autostart", "getinfo pid", "/bye" });
    ask.waitForFinished(10000);
    const QByteArray answer = ask.readAllStandardOutput();
    const pid_t agent = answer.startsWith("D ") ? answer.mid(2).split('\n').first().toInt() : 0;
    if (agent <= 0)
        return;
    ::kill(agent, SIGKILL);
    ::waitpid(agent, nullptr, 0);
}

QString TestRelease::gpg(
    const QStringList& arguments, const QByteArray& input, QByteArray* output) const
{
    QProcess process;
    process.setProgram(QStringLiteral("gpg"));
    process.setArguments(QStringList { "--homedir", m_home.path(), "--batch", "--yes",
                             "--pinentry-mode", "loopback", "--passphrase", "" }
        + arguments);
    process.start();
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return "gpg " + arguments.join(' ') + ": "
            + QString::fromLocal8Bit(process.readAllStandardError());
    if (output)
        *output = process.readAllStandardOutput();
    return {};
}

QString TestRelease::start(TestHttpServer& server)
{
    m_server = &server;
    if (!m_home.isValid())
        return "no temporary folder";
    for (const QString& user : { kReleaseUser, kOtherUser }) {
        if (QString problem = gpg({ "--quick-gen-key", user, "ed25519", "sign", "never" });
            !problem.isEmpty())
            return problem;
    }
    QByteArray armored;
    if (QString problem = gpg({ "--armor", "--export", kReleaseUser }, {}, &armored);
        !problem.isEmpty())
        return problem;
    if (!writeTestFile(keyFile(), armored))
        return "the key could not be written";
    return {};
}

QByteArray TestRelease::pageRecord(const QString& title, const QUrl& media, qint64 size)
{
    const QJsonObject format { { "format_id", "18" }, { "ext", "mp4" }, { "protocol", "http" },
        { "url", media.toString() }, { "vcodec", "h264" }, { "acodec", "aac" }, { "height", 240 },
        { "filesize", size } };
    return QJsonDocument(QJsonObject { { "title", title }, { "formats", QJsonArray { format } } })
        .toJson(QJsonDocument::Compact);
}

QByteArray TestRelease::program(
    const QString& version, const QByteArray& record, const QByteArray& onVersion)
{
    QByteArray indented;
    for (const QByteArray& line : onVersion.split('\n'))
        indented += "    " + line + "\n";
    return "#!/usr/bin/env python3\n"
           "import base64, sys\n"
           "if sys.argv[1:2] == ['--version']:\n"
        + indented + "    print('" + version.toUtf8()
        + "')\n"
          "    sys.exit(0)\n"
          "sys.stdout.write(base64.b64decode('"
        + record.toBase64() + "').decode())\n";
}

QByteArray TestRelease::sumsOf(const QByteArray& program, const QString& name)
{
    // Other files of a release are listed too, as in yt-dlp's own sums.
    return "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef  yt-dlp.exe\n"
        + QCryptographicHash::hash(program, QCryptographicHash::Sha256).toHex() + "  "
        + name.toUtf8() + "\n";
}

QByteArray TestRelease::sign(const QByteArray& data, bool byOtherKey) const
{
    QByteArray detached;
    const QString problem = gpg({ "--local-user", byOtherKey ? kOtherUser : kReleaseUser,
                                    "--detach-sign", "--output", "-" },
        data, &detached);
    return problem.isEmpty() ? detached : QByteArray();
}

QString TestRelease::signByLapsedKey(Lapse lapse)
{
    const bool revoked = lapse == Lapse::Revoked;
    const QString user = revoked ? QStringLiteral("Revoked Key <revoked@example.test>")
                                 : QStringLiteral("Expired Key <expired@example.test>");
    // An expired key lived one day in 2020 and signed then.
    const QStringList past = revoked
        ? QStringList()
        : QStringList { QStringLiteral("--faked-system-time"), QStringLiteral("20200101T000000") };
    QByteArray detached;
    QByteArray armored;
    QString problem = gpg(past + QStringList { "--quick-gen-key", user, "ed25519", "sign", "1d" });
    if (problem.isEmpty())
        problem = gpg(past + QStringList { "--local-user", user, "--detach-sign", "--output", "-" },
            sums, &detached);
    if (problem.isEmpty() && revoked)
        problem = revoke(user);
    if (problem.isEmpty())
        problem = gpg({ "--armor", "--export", user }, {}, &armored);
    const QString path = m_home.filePath(revoked ? "revoked-key.asc" : "expired-key.asc");
    if (!problem.isEmpty() || !writeTestFile(path, armored))
        return {};
    signature = detached;
    serve();
    return path;
}

// gpg keeps a revocation certificate of each key it makes; importing it revokes the key.
QString TestRelease::revoke(const QString& user) const
{
    QByteArray listing;
    if (QString problem = gpg({ "--with-colons", "--list-keys", user }, {}, &listing);
        !problem.isEmpty())
        return problem;
    QByteArray fingerprint;
    for (const QByteArray& line : listing.split('\n')) {
        if (line.startsWith("fpr:") && fingerprint.isEmpty())
            fingerprint = line.split(':').value(9);
    }
    QByteArray certificate
        = readTestFile(m_home.filePath("openpgp-revocs.d/" + fingerprint + ".rev"));
    // It is kept with its first line masked, against an import by mistake.
    certificate.replace(
        ":-----BEGIN PGP PUBLIC KEY BLOCK-----", "-----BEGIN PGP PUBLIC KEY BLOCK-----");
    if (certificate.isEmpty())
        return "no revocation certificate for " + user;
    return gpg({ "--import" }, certificate);
}

void TestRelease::publish(const QString& version, const QByteArray& record)
{
    publishProgram(program(version, record));
}

void TestRelease::publishProgram(const QByteArray& bytes)
{
    programBytes = bytes;
    sums = sumsOf(bytes);
    signature = sign(sums);
    serve();
}

void TestRelease::serve()
{
    serve("yt-dlp", TestReply::text(programBytes));
    serve("SHA2-256SUMS", TestReply::text(sums));
    serve("SHA2-256SUMS.sig", TestReply::text(signature));
}

void TestRelease::serve(const QString& name, const TestReply& reply)
{
    m_server->route("/release/" + name, reply);
}
