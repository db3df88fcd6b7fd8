#include "SlideshowJob.h"

#include "InputFile.h"
#include "platform/PropertyListBounds.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <plist/plist.h>

#include <cmath>
#include <memory>

namespace {

// A job lists paths and a few numbers; anything this big is not one.
constexpr qint64 kLargestJobBytes = 16 * 1024 * 1024;
constexpr double kHighestFrameRate = 240;
constexpr double kLongestShowSeconds = 3600;
constexpr int kLargestSide = 8192;

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistHolder = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

// Reads the entries of the top-level dictionary; the first problem found is
// kept in `error` and every later read does nothing.
class JobReader {
public:
    JobReader(plist_t dictionary, QString& error)
        : m_dictionary(dictionary)
        , m_error(error)
    { }

    bool failed() const { return !m_error.isEmpty(); }

    QString text(const char* key, bool required)
    {
        const plist_t node = entry(key, required);
        if (!node)
            return {};
        if (plist_get_node_type(node) == PLIST_STRING)
            return stringOf(key, node);
        fail(key, "is not a string");
        return {};
    }

    double number(const char* key)
    {
        const plist_t node = entry(key, true);
        if (!node)
            return 0;
        double value = 0;
        if (plist_get_node_type(node) == PLIST_REAL) {
            plist_get_real_val(node, &value);
        } else if (plist_get_node_type(node) == PLIST_UINT) {
            uint64_t whole = 0;
            plist_get_uint_val(node, &whole);
            value = static_cast<double>(static_cast<int64_t>(whole));
        } else {
            fail(key, "is not a number");
        }
        return value;
    }

    QStringList texts(const char* key, bool required)
    {
        QStringList values;
        const plist_t node = array(key, required);
        for (uint32_t i = 0; node && i < plist_array_get_size(node); ++i) {
            const plist_t item = plist_array_get_item(node, i);
            if (plist_get_node_type(item) != PLIST_STRING) {
                fail(key, "holds an entry that is not a string");
                return {};
            }
            values << stringOf(key, item);
        }
        return values;
    }

    QList<qint64> integers(const char* key)
    {
        QList<qint64> values;
        const plist_t node = array(key, false);
        for (uint32_t i = 0; node && i < plist_array_get_size(node); ++i) {
            const plist_t item = plist_array_get_item(node, i);
            if (plist_get_node_type(item) != PLIST_UINT) {
                fail(key, "holds an entry that is not an integer");
                return {};
            }
            uint64_t value = 0;
            plist_get_uint_val(item, &value);
            values << static_cast<qint64>(value);
        }
        return values;
    }

    void fail(const char* key, const QString& problem)
    {
        if (!failed())
            m_error = QStringLiteral("\"%1\" %2").arg(QLatin1String(key), problem);
    }

private:
    plist_t entry(const char* key, bool required)
    {
        if (failed())
            return nullptr;
        const plist_t node = plist_dict_get_item(m_dictionary, key);
        if (!node && required)
            fail(key, "is missing");
        return node;
    }

    plist_t array(const char* key, bool required)
    {
        const plist_t node = entry(key, required);
        if (!node || plist_get_node_type(node) == PLIST_ARRAY)
            return node;
        fail(key, "is not an array");
        return nullptr;
    }

    // A binary list may hold a string with a zero byte inside, which libplist
    // asserts against when it copies one out; no path holds one.
    QString stringOf(const char* key, plist_t node)
    {
        uint64_t length = 0;
        const char* value = plist_get_string_ptr(node, &length);
        const QByteArray bytes(value, static_cast<qsizetype>(length));
        if (bytes.contains('\0'))
            fail(key, "holds a zero byte");
        return QString::fromUtf8(bytes);
    }

    plist_t m_dictionary;
    QString& m_error;
};

PlistHolder parse(const QString& path, QString& error)
{
    QString problem;
    const std::unique_ptr<QFile> file = InputFile::open(path, kLargestJobBytes, problem);
    if (!file) {
        error = QStringLiteral("cannot open the job file \"%1\": %2").arg(path, problem);
        return nullptr;
    }
    const QByteArray bytes = file->read(kLargestJobBytes);
    if (const QString deep = propertyListDepthProblem(bytes); !deep.isEmpty()) {
        error = QStringLiteral("the job file \"%1\" cannot be read: %2").arg(path, deep);
        return nullptr;
    }
    plist_t root = nullptr;
    if (!bytes.isEmpty())
        plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    PlistHolder holder(root);
    if (!root)
        error = QStringLiteral("the job file \"%1\" is not a property list").arg(path);
    else if (plist_get_node_type(root) != PLIST_DICT)
        error = QStringLiteral("the job file \"%1\" does not hold a dictionary").arg(path);
    return error.isEmpty() ? std::move(holder) : nullptr;
}

// "{852, 480}", as the program writes sizes; each side rounded down to even,
// which the 4:2:0 frames need.
QSize frameSizeOf(const QString& text)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\{\s*([0-9]+(?:\.[0-9]*)?)\s*,\s*([0-9]+(?:\.[0-9]*)?)\s*\}$)"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return {};
    const auto even = [](const QString& side) {
        const double value = std::floor(side.toDouble());
        return value > kLargestSide ? 0 : static_cast<int>(value) / 2 * 2;
    };
    const QSize size(even(match.captured(1)), even(match.captured(2)));
    return size.width() >= 2 && size.height() >= 2 ? size : QSize();
}

void checkValues(const SlideshowJob& job, const QString& sizeText, JobReader& reader)
{
    if (!(job.videoFPS > 0 && job.videoFPS <= kHighestFrameRate))
        reader.fail(
            "videoFPS", QStringLiteral("must lie above 0 and at most %1").arg(kHighestFrameRate));
    else if (!(job.showDuration >= 0 && job.showDuration <= kLongestShowSeconds))
        reader.fail("showDuration",
            QStringLiteral("must lie between 0 and %1 seconds").arg(kLongestShowSeconds));
    else if (!job.videoSize.isValid())
        reader.fail("videoSize",
            QStringLiteral("\"%1\" is not a size \"{width, height}\" from 2 to %2")
                .arg(sizeText)
                .arg(kLargestSide));
    else if (!QDir::isAbsolutePath(job.targetPath))
        reader.fail(
            "targetPath", QStringLiteral("\"%1\" is not an absolute path").arg(job.targetPath));
}

} // namespace

std::optional<SlideshowJob> SlideshowJob::read(const QString& path, QString& error)
{
    const PlistHolder root = parse(path, error);
    if (!root)
        return std::nullopt;
    JobReader reader(root.get(), error);
    SlideshowJob job;
    job.shadingImage = reader.text("shadingImage", false);
    job.blankImage = reader.text("blankImage", false);
    job.targetPath = reader.text("targetPath", true);
    job.showDuration = reader.number("showDuration");
    job.effectList = reader.integers("effectList");
    job.imageSquenes = reader.texts("imageSquenes", true);
    job.audioList = reader.texts("audioList", false);
    job.videoFPS = reader.number("videoFPS");
    const QString sizeText = reader.text("videoSize", true);
    job.videoSize = frameSizeOf(sizeText);
    if (!reader.failed())
        checkValues(job, sizeText, reader);
    if (reader.failed())
        return std::nullopt;
    job.targetPath = QDir::cleanPath(job.targetPath);
    return job;
}
