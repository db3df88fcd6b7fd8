#include "services/DNSetting.h"

#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"

#include <QDataStream>
#include <QIODevice>

namespace {

// "QLST": the archive's own mark, then its layout version. A new layout gets
// a new version; an archive of another version is not read.
constexpr quint32 kArchiveMagic = 0x514C5354;
constexpr quint32 kArchiveVersion = 1;
// Fixed, so that a newer Qt writes what an older one reads.
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;

const QString kAppSetting = QStringLiteral("appSetting");
const QString kMainWindowSetting = QStringLiteral("mainWindowSetting");
const QString kDownloadSetting = QStringLiteral("downloadSetting");
const QString kCameraSetting = QStringLiteral("cameraSetting");
const QString kScreenRecordSetting = QStringLiteral("screenRecordSetting");

quint16 checksumOf(const QByteArray& bytes)
{
    return qChecksum(QByteArrayView(bytes));
}

// The record maps of an archive, or why there are none.
struct ReadResult {
    QVariantMap records;
    QString failure;
};

bool readMap(QDataStream& in, QVariantMap& map, int depth);

// One value as QDataStream writes a QVariant (type id, null flag, value), of
// the kinds the records hold. Any other kind is refused: reading a QVariant
// the plain way builds whatever type the bytes name, pictures and cursors
// among them, from a file anyone may have changed.
bool readValue(QDataStream& in, QVariant& value, int depth)
{
    constexpr int kMaxDepth = 4;
    quint32 typeId = 0;
    qint8 isNull = 0;
    in >> typeId >> isNull;
    if (in.status() != QDataStream::Ok)
        return false;
    if (typeId == QMetaType::QVariantMap && depth < kMaxDepth) {
        QVariantMap inner;
        if (!readMap(in, inner, depth + 1))
            return false;
        value = inner;
        return true;
    }
    // Lists are left out too: Qt reserves room for the count a list names
    // before reading a single item, gigabytes for four damaged bytes.
    static const QList<quint32> plainKinds { QMetaType::Bool, QMetaType::Int, QMetaType::UInt,
        QMetaType::LongLong, QMetaType::ULongLong, QMetaType::Double, QMetaType::QString };
    if (!plainKinds.contains(typeId)) {
        in.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    const QMetaType type(static_cast<int>(typeId));
    value = QVariant(type);
    return type.load(in, value.data()) && in.status() == QDataStream::Ok;
}

// A QVariantMap as QDataStream writes it: the count, then the pairs.
bool readMap(QDataStream& in, QVariantMap& map, int depth)
{
    quint32 count = 0;
    in >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString key;
        QVariant value;
        in >> key;
        if (in.status() != QDataStream::Ok || !readValue(in, value, depth))
            return false;
        map.insert(key, value);
    }
    return in.status() == QDataStream::Ok;
}

ReadResult readArchive(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(kStreamVersion);
    quint32 magic = 0;
    quint32 version = 0;
    in >> magic >> version;
    if (in.status() != QDataStream::Ok || magic != kArchiveMagic)
        return { {}, QStringLiteral("it is not a settings archive") };
    if (version != kArchiveVersion)
        return { {},
            QStringLiteral("it has layout version %1, not %2").arg(version).arg(kArchiveVersion) };
    QByteArray payload;
    quint16 checksum = 0;
    in >> payload >> checksum;
    if (in.status() != QDataStream::Ok || !in.atEnd() || checksum != checksumOf(payload))
        return { {}, QStringLiteral("it is damaged") };
    QDataStream records(payload);
    records.setVersion(kStreamVersion);
    ReadResult result;
    if (!readMap(records, result.records, 0) || !records.atEnd())
        return { {}, QStringLiteral("its records are damaged") };
    return result;
}

QVariantMap recordOf(const QVariantMap& records, const QString& name)
{
    const QVariant record = records.value(name);
    if (record.metaType() != QMetaType::fromType<QVariantMap>()) {
        if (record.isValid())
            DNLog(QStringLiteral("Settings record \"%1\" is unreadable; its defaults are kept.")
                      .arg(name));
        return {};
    }
    return record.toMap();
}

} // namespace

DNSetting& DNSetting::shareSetting()
{
    static DNSetting shared;
    return shared;
}

DNSetting::DNSetting()
    : m_downloadSetting(std::make_unique<NXVideoDownloadSetting>())
{ }

DNSetting::~DNSetting() = default;

void DNSetting::resetToDefaults()
{
    m_appSetting = DNAppSetting();
    m_mainWindowSetting = DNMainWindowSetting();
    m_downloadSetting->resetToDefaults();
    m_cameraSetting = NXCameraRecorderSetting();
    m_screenRecordSetting = DNScreenRecorderSetting();
}

QByteArray DNSetting::archive() const
{
    const QVariantMap records {
        { kAppSetting, m_appSetting.archive() },
        { kMainWindowSetting, m_mainWindowSetting.archive() },
        { kDownloadSetting, m_downloadSetting->archive() },
        { kCameraSetting, m_cameraSetting.archive() },
        { kScreenRecordSetting, m_screenRecordSetting.archive() },
    };
    QByteArray payload;
    QDataStream recordStream(&payload, QIODevice::WriteOnly);
    recordStream.setVersion(kStreamVersion);
    recordStream << records;

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    out << kArchiveMagic << kArchiveVersion << payload << checksumOf(payload);
    return bytes;
}

bool DNSetting::restoreArchive(const QByteArray& bytes)
{
    const ReadResult read = readArchive(bytes);
    if (!read.failure.isEmpty()) {
        resetToDefaults();
        DNLog(QStringLiteral("The saved settings are not used, %1; the defaults are used instead.")
                  .arg(read.failure));
        return false;
    }
    m_appSetting.restore(recordOf(read.records, kAppSetting));
    m_mainWindowSetting.restore(recordOf(read.records, kMainWindowSetting));
    m_downloadSetting->restore(recordOf(read.records, kDownloadSetting));
    m_cameraSetting.restore(recordOf(read.records, kCameraSetting));
    m_screenRecordSetting.restore(recordOf(read.records, kScreenRecordSetting));
    return true;
}

void DNSetting::restore(UserDefaults& defaults)
{
    const QByteArray bytes = defaults.data(kArchiveKey);
    if (bytes.isEmpty()) {
        resetToDefaults();
        return;
    }
    restoreArchive(bytes);
}

void DNSetting::restore()
{
    restore(UserDefaults::standard());
}

void DNSetting::save(UserDefaults& defaults) const
{
    defaults.setData(kArchiveKey, archive());
    defaults.synchronize();
}

void DNSetting::save() const
{
    save(UserDefaults::standard());
}
