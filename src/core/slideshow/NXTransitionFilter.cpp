#include "slideshow/NXTransitionFilter.h"

#include <QPointF>
#include <QRectF>

#include <algorithm>
#include <utility>

namespace {

const QString kImage = QStringLiteral("inputImage");
const QString kTargetImage = QStringLiteral("inputTargetImage");
const QString kTime = QStringLiteral("inputTime");

} // namespace

NXTransitionFilter::NXTransitionFilter(QString name, QString displayName, QVariantMap furtherInputs)
    : m_name(std::move(name))
    , m_displayName(std::move(displayName))
    , m_defaults(std::move(furtherInputs))
{
    m_defaults.insert(kImage, QImage());
    m_defaults.insert(kTargetImage, QImage());
    m_defaults.insert(kTime, 0.0);
    m_inputs = m_defaults;
}

void NXTransitionFilter::setDefaults()
{
    // The images are what the filter works on, not settings of it.
    const QVariant image = m_inputs.value(kImage);
    const QVariant target = m_inputs.value(kTargetImage);
    m_inputs = m_defaults;
    m_inputs.insert(kImage, image);
    m_inputs.insert(kTargetImage, target);
}

bool NXTransitionFilter::setValue(const QString& key, const QVariant& value)
{
    if (!m_inputs.contains(key))
        return false;
    m_inputs.insert(key, value);
    return true;
}

QImage NXTransitionFilter::outputImage() const
{
    return render(picture(kImage), picture(kTargetImage), number(kTime));
}

QImage NXTransitionFilter::render(const QImage& source, const QImage& target, double time) const
{
    if (source.isNull() || target.isNull())
        return {};
    const QImage preparedSource = TransitionPixels::prepared(source);
    const QImage preparedTarget = TransitionPixels::prepared(target);
    QImage output(preparedTarget.size(), QImage::Format_ARGB32_Premultiplied);
    // Written so that NaN becomes 0.
    const double bounded = time > 0 ? std::min(time, 1.0) : 0.0;
    draw(ImageSampler(preparedSource), ImageSampler(preparedTarget), static_cast<float>(bounded),
        output);
    return output;
}

float NXTransitionFilter::number(const QString& key) const
{
    return m_inputs.value(key).toFloat();
}

QPointF NXTransitionFilter::point(const QString& key) const
{
    return m_inputs.value(key).toPointF();
}

QRectF NXTransitionFilter::rectangle(const QString& key) const
{
    return m_inputs.value(key).toRectF();
}

QImage NXTransitionFilter::picture(const QString& key) const
{
    return m_inputs.value(key).value<QImage>();
}
