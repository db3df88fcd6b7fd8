// The settings archive, the blob stored under "kApplicationSetting002" and
// read at every launch. Each input is read as a whole archive, and once more
// as the records of an archive whose header and checksum are right, so that
// the record reading is reached without the fuzzer having to match the
// checksum. Whatever was read, the settings written back must read again.
#include "FuzzSupport.h"

#include "services/DNSetting.h"

#include <QDataStream>
#include <QIODevice>

namespace {

// An archive around `records`, as DNSetting::archive() lays it out.
QByteArray archiveAround(const QByteArray& records)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out << quint32(0x514C5354) << quint32(1) << records << qChecksum(QByteArrayView(records));
    return bytes;
}

void restoreAndRoundTrip(const QByteArray& archive)
{
    DNSetting settings;
    settings.restoreArchive(archive);
    const QByteArray written = settings.archive();
    DNSetting again;
    Fuzz::require(again.restoreArchive(written), "settings written back do not read again");
    Fuzz::require(again.archive() == written, "settings read back differ from those written");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = Fuzz::bytesOf(data, size);
    restoreAndRoundTrip(bytes);
    restoreAndRoundTrip(archiveAround(bytes));
    return 0;
}
