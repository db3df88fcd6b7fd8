// The transitions that ffmpeg's xfade also draws, compared with it frame for
// frame on the same two stills.
#include "slideshow/NXEffectManager.h"

#include "support/RunFfmpeg.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kRate = 24;

QString still(const QTemporaryDir& folder, const char* name, const QString& source)
{
    const QString path = folder.filePath(name);
    runFfmpeg({ "-f", "lavfi", "-i", source, "-frames:v", "1", path });
    return path;
}

// xfade's frame `frame` of a one-second transition from `from` to `to`, as RGB.
QImage xfadeFrame(const QString& from, const QString& to, const char* transition, int frame)
{
    const QString graph = QStringLiteral("[0][1]xfade=transition=%1:duration=1:offset=1,"
                                         "select=eq(n\\,%2),format=rgb24")
                              .arg(transition)
                              .arg(kRate + frame);
    QByteArray bytes;
    runFfmpeg({ "-loop", "1", "-framerate", QString::number(kRate), "-t", "3", "-i", from, "-loop",
                  "1", "-framerate", QString::number(kRate), "-t", "3", "-i", to, "-filter_complex",
                  graph, "-frames:v", "1", "-f", "rawvideo", "pipe:1" },
        &bytes);
    if (bytes.size() != kWidth * kHeight * 3)
        return {};
    return QImage(reinterpret_cast<const uchar*>(bytes.constData()), kWidth, kHeight, kWidth * 3,
        QImage::Format_RGB888)
        .copy();
}

double psnr(const QImage& first, const QImage& second)
{
    const QImage a = first.convertToFormat(QImage::Format_RGB888);
    const QImage b = second.convertToFormat(QImage::Format_RGB888);
    double squares = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width() * 3; ++x) {
            const double difference = a.constScanLine(y)[x] - b.constScanLine(y)[x];
            squares += difference * difference;
        }
    }
    const double mean = squares / (a.width() * a.height() * 3);
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

TEST(TransitionOracle, DissolvePushAndFadeMatchXfade)
{
    QTemporaryDir folder;
    const QString from
        = still(folder, "from.png", QStringLiteral("testsrc2=size=%1x%2").arg(kWidth).arg(kHeight));
    const QString to
        = still(folder, "to.png", QStringLiteral("smptebars=size=%1x%2").arg(kWidth).arg(kHeight));
    const QImage fromImage(from);
    const QImage toImage(to);
    ASSERT_FALSE(fromImage.isNull());
    ASSERT_FALSE(toImage.isNull());
    const struct {
        qint64 type;
        const char* transition;
    } cases[] = { { NXTransitionDissolve, "fade" }, { NXTransitionPush, "slideright" },
        { NXTransitionFade, "fade" } };
    // A quarter of the way in: a transition run backwards shows up too.
    const int frame = kRate / 4;
    for (const auto& row : cases) {
        const QImage expected = xfadeFrame(from, to, row.transition, frame);
        ASSERT_FALSE(expected.isNull()) << row.transition;
        const std::unique_ptr<NXTransitionFilter> filter
            = NXEffectManager::independentFilterWithType(row.type);
        const QImage drawn = filter->render(fromImage, toImage, double(frame) / kRate);
        EXPECT_GE(psnr(drawn, expected), 30) << row.type << " against xfade " << row.transition;
    }
}

} // namespace
