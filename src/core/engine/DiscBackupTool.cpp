// The ISO backup bridge. Debian 12's genisoimage 1.1.11 makes the image of a
// DVD folder; xorriso cannot stand in for it (its mkisofs emulation has no
// "-dvd-video"). Images and drives need no tool: the bridge copies them.
#include "engine/DiscBackupTool.h"

#include "platform/OwnerMark.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kImageMaker = "genisoimage";
constexpr qint64 kSectorBytes = 2048;
// Big enough to copy at the disk's speed, small enough for a prompt stop.
constexpr qint64 kCopySectors = 256;
constexpr qsizetype kVolumeNameLength = 32; // an ISO 9660 volume id

ToolBridge& bridge()
{
    static ToolBridge instance("ISO backup tool");
    return instance;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A file descriptor closed with the object.
class Descriptor {
public:
    explicit Descriptor(int descriptor)
        : m_descriptor(descriptor)
    { }
    ~Descriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_descriptor; }
    bool isOpen() const { return m_descriptor >= 0; }

private:
    const int m_descriptor;
};

// The volume name from the disc folder's name, in the letters a volume id allows.
QString volumeNameOf(const QString& discFolder)
{
    QString name = QFileInfo(discFolder).fileName().toUpper().left(kVolumeNameLength);
    static const QRegularExpression other(QStringLiteral("[^A-Z0-9_]"));
    name.replace(other, QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("DVD_VIDEO") : name;
}

bool writeAll(int descriptor, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

void reportCopied(qint64 copied, qint64 total, int duration)
{
    ProgressInfo progress;
    progress.percent = total > 0 ? std::min(100.0, double(copied) * 100.0 / double(total)) : 0;
    progress.convertedTime = progress.percent * duration / 100.0;
    bridge().setProgress(progress);
}

// An image copied, or a drive read, block by block into a new file; a read
// error fails the run.
int copyDisc(const QString& source, const QString& output, int duration)
{
    // No program runs: the command says what the bridge itself does.
    bridge().setLastCommand({ "copy", source, output });
    const Descriptor in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    if (!in.isOpen())
        return bridge().fail(
            QStringLiteral("\"%1\" cannot be opened: %2").arg(source, systemError()));
    const qint64 total = ::lseek(in.get(), 0, SEEK_END);
    if (total < 0 || ::lseek(in.get(), 0, SEEK_SET) != 0)
        return bridge().fail(
            QStringLiteral("\"%1\" cannot be read: %2").arg(source, systemError()));
    // O_EXCL: the copy never writes over a file, the source least of all,
    // but for the partial this process claimed for it.
    const int flags = OwnerMark::isOwn(output) ? O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC
                                               : O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    const Descriptor out(::open(QFile::encodeName(output).constData(), flags, 0644));
    if (!out.isOpen())
        return bridge().fail(
            QStringLiteral("\"%1\" cannot be written: %2").arg(output, systemError()));
    std::vector<char> buffer(size_t(kCopySectors * kSectorBytes));
    for (qint64 copied = 0; copied < total;) {
        if (bridge().stopRequested())
            return kToolBridgeStopped;
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return bridge().fail(QStringLiteral("reading \"%1\" failed at byte %2: %3")
                                     .arg(source, QString::number(copied), systemError()));
        if (got == 0)
            return bridge().fail(QStringLiteral("\"%1\" ended at byte %2 of %3")
                                     .arg(source, QString::number(copied), QString::number(total)));
        if (!writeAll(out.get(), buffer.data(), got))
            return bridge().fail(
                QStringLiteral("writing \"%1\" failed: %2").arg(output, systemError()));
        copied += got;
        reportCopied(copied, total, duration);
    }
    return ::fsync(out.get()) == 0
        ? 0
        : bridge().fail(QStringLiteral("\"%1\" cannot be written: %2").arg(output, systemError()));
}

int makeImage(const QString& source, const QString& output, int duration)
{
    QString failure;
    const QStringList arguments = DiscBackupToolImageArguments(source, output, failure);
    if (arguments.isEmpty())
        return bridge().fail(failure);
    return bridge().run({ .program = kImageMaker, .arguments = arguments, .output = output },
        [duration](const QString& line, ProgressInfo& progress) {
            return DiscBackupToolReadProgressLine(line, duration, progress);
        });
}

int backUp(const QStringList& words, int duration)
{
    const QString& source = words[0];
    const QString& output = words[1];
    if (QFileInfo(source).absoluteFilePath() == QFileInfo(output).absoluteFilePath())
        return bridge().fail(QStringLiteral("the image would replace its own source"));
    if (QFileInfo(source).isDir())
        return makeImage(source, output, duration);
    return copyDisc(source, output, duration);
}

} // namespace

QStringList DiscBackupToolImageArguments(
    const QString& source, const QString& output, QString& failure)
{
    // genisoimage wants the folder that holds VIDEO_TS ("Could not find
    // correct 'VIDEO_TS' directory" for VIDEO_TS itself).
    const QFileInfo folder(source);
    const QString disc
        = folder.fileName().compare(QLatin1String("VIDEO_TS"), Qt::CaseInsensitive) == 0
        ? folder.absolutePath()
        : folder.absoluteFilePath();
    if (!QFileInfo(disc + QStringLiteral("/VIDEO_TS")).isDir()) {
        failure = QStringLiteral("the folder \"%1\" holds no VIDEO_TS folder").arg(source);
        return {};
    }
    return { "-dvd-video", "-V", volumeNameOf(disc), "-o", output, disc };
}

bool DiscBackupToolReadProgressLine(const QString& line, int duration, ProgressInfo& progress)
{
    static const QRegularExpression done(QStringLiteral(R"(^\s*([\d.]+)% done)"));
    const QRegularExpressionMatch match = done.match(line);
    if (!match.hasMatch())
        return false;
    // QString::toDouble ignores the locale.
    progress.percent = std::min(100.0, match.captured(1).toDouble());
    progress.convertedTime = progress.percent * duration / 100.0;
    return true;
}

int DiscBackupToolEncode(int argc, const char* const* argv, int duration)
{
    const ToolBridge::Call call(bridge());
    const QStringList words = bridge().listOf(argc, argv);
    if (words.isEmpty())
        return kToolBridgeFailed;
    if (words.size() != 3 || words[2] != QLatin1String("iso"))
        return bridge().fail(QStringLiteral("the list is not \"source output iso\""));
    const ToolBridgeOutput output(words[1]);
    if (output.existedBefore())
        return bridge().fail(QStringLiteral("\"%1\" is there already").arg(words[1]));
    bridge().start();
    int status = backUp(words, duration);
    if (status != kToolBridgeStopped && bridge().stopRequested())
        status = kToolBridgeStopped;
    bridge().settle(output, status);
    bridge().finish(status);
    return status;
}

ProgressInfo DiscBackupToolProgress()
{
    return bridge().progress();
}

void DiscBackupToolStop()
{
    bridge().stop();
}

void DiscBackupToolSetStateCallback(ToolBridgeStateCallback callback, void* context)
{
    bridge().setStateCallback(callback, context);
}

QStringList DiscBackupToolLastCommand()
{
    return bridge().lastCommand();
}

QString DiscBackupToolLastFailure()
{
    return bridge().lastFailure();
}
