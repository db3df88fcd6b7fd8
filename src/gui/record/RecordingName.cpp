#include "record/RecordingName.h"

#include <QLocale>

QString recordingDateString(const QDateTime& date)
{
    const int hour = date.time().hour();
    return QStringLiteral("%1 at %2 %3.%4")
        .arg(QLocale::c().toString(date, QStringLiteral("yyyy-MM-dd")),
            hour < 12 ? QStringLiteral("AM") : QStringLiteral("PM"),
            QStringLiteral("%1").arg(hour % 12, 2, 10, QLatin1Char('0')),
            QLocale::c().toString(date, QStringLiteral("mm.ss")));
}

QString recordingFileName(const QString& prefix, const QDateTime& date)
{
    return QStringLiteral("%1 %2.mov").arg(prefix, recordingDateString(date));
}
