#include "profiles/NXProfileParser.h"

#include "platform/PropertyListBounds.h"

#include <QFile>

#include <plist/plist.h>

#include <climits>
#include <cstring>
#include <memory>
#include <optional>

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistHolder = std::unique_ptr<void, PlistFree>;

// Our profiles hold a few KiB.
constexpr qint64 kLargestProfileBytes = 1024 * 1024;

// Texts and numbers both read as text: a bitrate may be written as 128 or "128".
std::optional<QString> textOf(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
        // By pointer and length: the copying getter asserts, ending the
        // program, on a string that holds a zero byte, which a damaged file
        // can. Such a string is no usable text either.
        uint64_t length = 0;
        const char* value = plist_get_string_ptr(node, &length);
        if (!value || std::memchr(value, '\0', size_t(length)))
            return std::nullopt;
        return QString::fromUtf8(value, qsizetype(length));
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        // Negative integers are stored as their two's complement.
        return QString::number(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QString::number(value, 'g', 15);
    }
    default:
        return std::nullopt;
    }
}

std::optional<int> intOf(plist_t node)
{
    if (plist_get_node_type(node) == PLIST_UINT) {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        const auto number = static_cast<qint64>(value);
        if (number < INT_MIN || number > INT_MAX)
            return std::nullopt;
        return int(number);
    }
    const std::optional<QString> text
        = plist_get_node_type(node) == PLIST_STRING ? textOf(node) : std::nullopt;
    bool ok = false;
    const int number = text ? text->trimmed().toInt(&ok) : 0;
    return ok ? std::optional<int>(number) : std::nullopt;
}

// Reads the keys of one dictionary of a profile file. The first problem is
// kept in `error`, naming the file and the key.
class DictReader {
public:
    DictReader(const QString& path, plist_t dict, const QString& prefix, QString& error)
        : m_path(path)
        , m_dict(dict)
        , m_prefix(prefix)
        , m_error(error)
    { }

    plist_t item(const char* key) const { return plist_dict_get_item(m_dict, key); }

    bool missing(const char* key)
    {
        return fail(QStringLiteral("Profile \"%1\" lacks the key \"%2\"").arg(m_path, name(key)));
    }
    bool unusable(const char* key, const QString& why)
    {
        return fail(
            QStringLiteral("Profile \"%1\": the key \"%2\" %3").arg(m_path, name(key), why));
    }

    bool text(const char* key, QString& out, bool required)
    {
        const plist_t node = item(key);
        if (!node)
            return !required || missing(key);
        const std::optional<QString> value = textOf(node);
        if (!value)
            return unusable(key, QStringLiteral("is not a text or a number"));
        out = *value;
        return true;
    }

    bool integer(const char* key, int& out, bool required)
    {
        const plist_t node = item(key);
        if (!node)
            return !required || missing(key);
        const std::optional<int> value = intOf(node);
        if (!value)
            return unusable(key, QStringLiteral("is not an integer"));
        out = *value;
        return true;
    }

    bool boolean(const char* key, bool& out)
    {
        const plist_t node = item(key);
        if (!node)
            return true;
        if (plist_get_node_type(node) != PLIST_BOOLEAN)
            return unusable(key, QStringLiteral("is not a boolean"));
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        out = value != 0;
        return true;
    }

    bool textList(const char* key, QStringList& out)
    {
        const plist_t node = item(key);
        if (!node)
            return true;
        if (plist_get_node_type(node) != PLIST_ARRAY)
            return unusable(key, QStringLiteral("is not an array"));
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
            const std::optional<QString> value = textOf(plist_array_get_item(node, i));
            if (!value)
                return unusable(
                    key, QStringLiteral("holds an item that is not a text or a number"));
            out << *value;
        }
        return true;
    }

    // The reader of a dictionary under `key`, or nothing when there is none.
    std::optional<DictReader> child(const char* key)
    {
        const plist_t node = item(key);
        if (!node)
            return std::nullopt;
        if (plist_get_node_type(node) != PLIST_DICT) {
            unusable(key, QStringLiteral("is not a dictionary"));
            return std::nullopt;
        }
        return DictReader(m_path, node, name(key) + QLatin1Char('/'), m_error);
    }

    bool failed() const { return !m_error.isEmpty(); }

private:
    QString name(const char* key) const { return m_prefix + QLatin1String(key); }
    bool fail(const QString& message)
    {
        if (m_error.isEmpty())
            m_error = message;
        return false;
    }

    const QString& m_path;
    plist_t m_dict;
    QString m_prefix;
    QString& m_error;
};

// A parameter entry: its default, and its choices with the default among them.
template<class Info> bool readInfo(DictReader& root, Info& info)
{
    std::optional<DictReader> entry = root.child(Info::key);
    if (!entry)
        return !root.failed();
    QString defaultValue;
    QStringList values;
    if (!entry->text("DefaultValue", defaultValue, true) || !entry->textList(Info::listKey, values))
        return false;
    if (values.isEmpty())
        values << defaultValue;
    if (!values.contains(defaultValue))
        return entry->unusable("DefaultValue",
            QStringLiteral("is not one of its \"%1\"").arg(QLatin1String(Info::listKey)));
    info.setChoices(defaultValue, values);
    return true;
}

// The rate model and the ceiling of the constant-quality model. A model the
// user stored wins over the profile's default model, "CBR" when it names none.
bool readQualityModel(DictReader& root, NXVideoQuality& quality)
{
    std::optional<DictReader> entry = root.child(NXVideoQuality::key);
    if (!entry)
        return !root.failed();
    int maxBitrate = 0;
    QString model = QStringLiteral("CBR");
    int storedModel = -1;
    if (!entry->integer("MaxVideoBitrate", maxBitrate, true)
        || !entry->text("BitrateModel", model, false)
        || !entry->integer("curBitrateModel", storedModel, false))
        return false;
    if (model != QLatin1String("CBR") && model != QLatin1String("VBR"))
        return entry->unusable("BitrateModel", QStringLiteral("is neither \"CBR\" nor \"VBR\""));
    quality.setMaxVideoBitrate(maxBitrate);
    quality.setCurBitrateModel(
        model == QLatin1String("VBR") ? NXVideoQuality::VBR : NXVideoQuality::CBR);
    if (storedModel >= 0)
        quality.setCurBitrateModel(storedModel);
    return true;
}

PlistHolder readPlist(const QString& path, QString& error)
{
    QString problem;
    const std::optional<QByteArray> bytes = readFileUpTo(path, kLargestProfileBytes, problem);
    if (bytes)
        problem = propertyListDepthProblem(*bytes);
    if (!problem.isEmpty()) {
        error = QStringLiteral("Profile \"%1\" cannot be read: %2").arg(path, problem);
        return nullptr;
    }
    plist_t root = nullptr;
    if (!bytes->isEmpty())
        plist_from_memory(bytes->constData(), uint32_t(bytes->size()), &root);
    PlistHolder holder(root);
    if (!root)
        error = QStringLiteral("Profile \"%1\" is not a property list").arg(path);
    else if (plist_get_node_type(root) != PLIST_DICT)
        error = QStringLiteral("Profile \"%1\" is not a dictionary of keys").arg(path);
    return error.isEmpty() ? std::move(holder) : nullptr;
}

} // namespace

bool NXProfileParser::parseFile(const QString& path, int profileType, QString& error)
{
    error.clear();
    const PlistHolder plist = readPlist(path, error);
    if (!plist)
        return false;
    m_filePath = path;
    m_profileType = profileType;
    DictReader root(path, plist.get(), QString(), error);
    const bool keysRead = root.text("ProfileName", m_profileName, true)
        && root.text("Category", m_category, true) && root.integer("GlobalID", m_globalID, true)
        && root.text("ArgvAssembler", m_argvAssembler, true)
        && root.text("FileNameSuffix", m_fileNameSuffix, true)
        && root.text("FileFormat", m_fileFormat, false)
        && root.integer("QualityPhase", m_qualityPhase, false)
        && root.boolean("EnableTwoPass", m_twoPass) && readQualityModel(root, m_videoQuality);
    if (!keysRead)
        return false;
    bool infosRead = true;
    forEachInfo(*this, [&](auto& info) { infosRead = infosRead && readInfo(root, info); });
    return infosRead;
}
