// The transitions drawn between two flat photos, read back at chosen pixels,
// and the catalogue that hands them out by number.
#include "slideshow/NXEffectManager.h"

#include <QPointF>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

const QRgb kOld = qRgb(40, 40, 40);
const QRgb kNew = qRgb(220, 220, 220);

QImage flat(QRgb colour, int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

std::unique_ptr<NXTransitionFilter> filterNamed(const char* name)
{
    std::unique_ptr<NXTransitionFilter> filter = NXEffectManager::filterWithName(name);
    EXPECT_NE(filter, nullptr) << name;
    return filter;
}

// Pixels are given in the usual top-left coordinates of an image.
struct Probe {
    int x;
    int y;
    QRgb expected;
};

struct FilterCase {
    const char* what;
    const char* name;
    QVariantMap inputs;
    QSize size;
    double time;
    std::vector<Probe> probes;
};

TEST(TransitionFilters, DrawTheExpectedPhotoAtEachProbe)
{
    const QRgb mean = qRgb(130, 130, 130);
    const QVariantMap bands { { "inputWidth", 20.0 }, { "inputDirect", QPointF(1, 0) } };
    const auto rotation = [](int mode) { return QVariantMap { { "inputMode", mode } }; };
    // 80 x 80 at half time: the rotations swing through the lower corners,
    // the tile bands are 20 rows high, counted from the bottom edge.
    const std::vector<FilterCase> cases {
        { "fade at 0 is the old photo", "NXFadeTransform", {}, { 8, 8 }, 0, { { 4, 4, kOld } } },
        { "fade at 1 is the new photo", "NXFadeTransform", {}, { 8, 8 }, 1, { { 4, 4, kNew } } },
        { "fade halfway", "NXFadeTransform", {}, { 8, 8 }, 0.5, { { 4, 4, mean } } },
        { "implosion past 0.99 is the new photo", "NXImplosionTransform", {}, { 64, 48 }, 0.995,
            { { 32, 24, kNew }, { 1, 1, kNew } } },
        { "implosion uncovers the new photo where the old one is drawn off the picture",
            "NXImplosionTransform", {}, { 64, 48 }, 0.5, { { 0, 0, kNew } } },
        { "implosion leaves the exact centre as it is", "NXImplosionTransform", {}, { 5, 5 }, 0.5,
            { { 2, 2, kOld } } },
        { "twirl of a picture 20 high is a plain cross-fade", "NXTwirlTransform", {}, { 40, 20 },
            0.5, { { 20, 10, mean }, { 0, 0, mean } } },
        { "tile in: bands 20 high enter from alternate sides", "NXTileInTransform", bands,
            { 80, 80 }, 0.5,
            { { 10, 5, kNew }, { 10, 19, kNew }, { 10, 20, kOld }, { 70, 20, kNew },
                { 10, 45, kNew }, { 10, 65, kOld } } },
        { "tile out: bands 20 high leave to alternate sides", "NXTileOutTransform", bands,
            { 80, 80 }, 0.5,
            { { 70, 5, kNew }, { 70, 19, kNew }, { 70, 20, kOld }, { 10, 20, kNew },
                { 70, 45, kNew }, { 70, 65, kOld } } },
        { "rotation mode 0 swings the new photo in on the left", "NXRotationFilter", rotation(0),
            { 80, 80 }, 0.5, { { 10, 75, kNew }, { 70, 75, kOld } } },
        { "rotation mode 1 swings the new photo in on the right", "NXRotationFilter", rotation(1),
            { 80, 80 }, 0.5, { { 10, 75, kOld }, { 70, 75, kNew } } },
        { "rotation mode 2 swings the old photo out to the right", "NXRotationFilter", rotation(2),
            { 80, 80 }, 0.5, { { 10, 75, kNew }, { 70, 75, kOld } } },
        { "rotation mode 3 swings the old photo out to the left", "NXRotationFilter", rotation(3),
            { 80, 80 }, 0.5, { { 10, 75, kOld }, { 70, 75, kNew } } },
        { "rotation mode 2 ends on the new photo", "NXRotationFilter", rotation(2), { 80, 80 }, 1,
            { { 10, 75, kNew }, { 40, 5, kNew } } },
        { "rotation mode 0 starts on the old photo", "NXRotationFilter", rotation(0), { 80, 80 }, 0,
            { { 10, 75, kOld }, { 40, 5, kOld } } },
    };
    for (const FilterCase& row : cases) {
        const std::unique_ptr<NXTransitionFilter> filter = filterNamed(row.name);
        for (auto input = row.inputs.begin(); input != row.inputs.end(); ++input)
            ASSERT_TRUE(filter->setValue(input.key(), input.value())) << row.what;
        ASSERT_TRUE(
            filter->setValue("inputImage", flat(kOld, row.size.width(), row.size.height())));
        ASSERT_TRUE(
            filter->setValue("inputTargetImage", flat(kNew, row.size.width(), row.size.height())));
        ASSERT_TRUE(filter->setValue("inputTime", row.time));
        const QImage output = filter->outputImage();
        ASSERT_EQ(output.size(), row.size) << row.what;
        for (const Probe& probe : row.probes) {
            const QRgb pixel = output.pixel(probe.x, probe.y);
            EXPECT_EQ(qAlpha(pixel), 255) << row.what << " at " << probe.x << "," << probe.y;
            EXPECT_NEAR(qRed(pixel), qRed(probe.expected), 1)
                << row.what << " at " << probe.x << "," << probe.y;
        }
    }
}

TEST(TransitionFilters, EveryNumberedTransitionGoesFromTheOldPhotoToTheNewOne)
{
    const QRectF area(0, 0, 96, 64);
    for (qint64 type = 0; type < NXTransitionNone; ++type) {
        const std::unique_ptr<NXTransitionFilter> filter
            = NXEffectManager::independentFilterWithType(type);
        ASSERT_NE(filter, nullptr) << type;
        NXEffectManager::prepareFilterForShowing(*filter, type, area, QImage());
        const QImage start = filter->render(flat(kOld, 96, 64), flat(kNew, 96, 64), 0);
        const QImage end = filter->render(flat(kOld, 96, 64), flat(kNew, 96, 64), 1);
        for (const QPoint point : { QPoint(1, 1), QPoint(48, 32), QPoint(94, 62) }) {
            EXPECT_EQ(qRed(start.pixel(point)), qRed(kOld)) << type << " at the start";
            EXPECT_EQ(qRed(end.pixel(point)), qRed(kNew)) << type << " at the end";
        }
    }
}

TEST(NXEffectManager, NumbersLeadToTheirSharedFilters)
{
    NXEffectManager& catalogue = NXEffectManager::instance();
    for (const qint64 none : { qint64(NXTransitionNone), qint64(20), qint64(-1), qint64(1) << 32 })
        EXPECT_EQ(catalogue.filterWithNXType(none), nullptr) << none;

    std::set<const NXTransitionFilter*> numbered;
    for (qint64 type = 0; type < NXTransitionNone; ++type) {
        ASSERT_NE(catalogue.filterWithNXType(type), nullptr) << type;
        numbered.insert(catalogue.filterWithNXType(type));
    }
    EXPECT_EQ(numbered.size(), 15U) << "the four rotation numbers share one filter";
    EXPECT_EQ(catalogue.filterWithNXType(14), catalogue.filterWithNXType(17));
    EXPECT_EQ(catalogue.filterWithNXType(14)->name(), "NXRotationTransform");
    for (int draw = 0; draw < 20; ++draw)
        EXPECT_TRUE(numbered.contains(catalogue.filterWithNXType(NXTransitionRandom)));
}

TEST(NXEffectManager, IndependentRotationsTakeTheModeOfTheirNumber)
{
    NXTransitionFilter* shared = NXEffectManager::instance().filterWithNXType(14);
    shared->setValue("inputMode", 2);
    const struct {
        qint64 type;
        int mode;
    } cases[] = { { 14, 2 }, { 15, 1 }, { 16, 2 }, { 17, 3 } };
    for (const auto& row : cases) {
        const std::unique_ptr<NXTransitionFilter> copy
            = NXEffectManager::independentFilterWithType(row.type);
        ASSERT_NE(copy.get(), shared);
        EXPECT_EQ(copy->value("inputMode").toInt(), row.mode) << row.type;
    }
    EXPECT_EQ(shared->value("inputMode").toInt(), 2) << "copies leave the shared filter alone";
    shared->setValue("inputMode", 0);
}

} // namespace
