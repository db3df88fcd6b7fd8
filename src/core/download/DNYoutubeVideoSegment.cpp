#include "download/DNYoutubeVideoSegment.h"

QString DNYoutubeVideoSegment::description() const
{
    return QStringLiteral("%1P %2mb")
        .arg(resolution)
        .arg(QString::number(videoSize / 1024.0 / 1024.0, 'f', 2));
}
