#include "editor/NXEditMovieView.h"

#include "player/BlackRegion.h"

#include <QFontMetricsF>
#include <QMutexLocker>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QThread>

#include <cmath>

namespace {

int truncated(double value)
{
    return static_cast<int>(std::trunc(value));
}

// The subtitle's lines over `picture` as the engine draws a text subtitle
// on an output of that height, in its default style: white letters with a
// dark outline, 16 lines tall and 10 from the edge on a script 288 lines
// high, each line centred and wrapped within the picture.
void drawSubtitle(
    QPainter& painter, const QRectF& picture, const QString& text, PreviewSubtitle::Place place)
{
    constexpr qreal kScriptHeight = 288, kLetterHeight = 16, kMargin = 10;
    if (text.isEmpty() || picture.isEmpty())
        return;
    QFont font = painter.font();
    font.setPixelSize(std::max(8, int(picture.height() * kLetterHeight / kScriptHeight)));
    const QFontMetricsF metrics(font);
    QStringList lines;
    for (const QString& paragraph : text.split('\n')) {
        QString line;
        for (const QString& word : paragraph.split(' ', Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + ' ' + word;
            if (!line.isEmpty() && metrics.horizontalAdvance(longer) > picture.width() * 0.95) {
                lines << line;
                line = word;
            } else {
                line = longer;
            }
        }
        lines << line;
    }
    const qreal height = metrics.lineSpacing() * lines.size();
    const qreal margin = picture.height() * kMargin / kScriptHeight;
    qreal top = place == PreviewSubtitle::Place::Top ? picture.top() + margin
        : place == PreviewSubtitle::Place::Middle    ? picture.center().y() - height / 2
                                                     : picture.bottom() - margin - height;
    QPainterPath path;
    for (const QString& line : lines) {
        const qreal left = picture.center().x() - metrics.horizontalAdvance(line) / 2;
        path.addText(left, top + metrics.ascent(), font, line);
        top += metrics.lineSpacing();
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(path, QPen(Qt::black, std::max(1.0, font.pixelSize() / 10.0)));
    painter.fillPath(path, Qt::white);
    painter.restore();
}

} // namespace

NXEditMovieView::NXEditMovieView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    adjustGeometryFilter();
}

void NXEditMovieView::setBrightness(double value)
{
    m_vars.vBrightness = value;
    adjustColorFilter();
    emit brightnessChanged();
    displayImage();
}

void NXEditMovieView::setContrast(double value)
{
    m_vars.vContrast = value;
    adjustColorFilter();
    emit contrastChanged();
    displayImage();
}

void NXEditMovieView::setSaturation(double value)
{
    m_vars.vSaturation = value;
    adjustColorFilter();
    emit saturationChanged();
    displayImage();
}

void NXEditMovieView::setGamma(double value)
{
    m_vars.vGamma = value;
    adjustColorFilter();
    emit gammaChanged();
    displayImage();
}

void NXEditMovieView::setHue(double radians)
{
    m_vars.vHueAngle = radians;
    adjustColorFilter();
    emit hueChanged();
    displayImage();
}

int NXEditMovieView::transformedBrightness() const
{
    return truncated(m_vars.vBrightness * 100.0);
}

int NXEditMovieView::transformedContrast() const
{
    return truncated(((m_vars.vContrast - 0.25) / 3.75 - 0.5) * 200.0);
}

int NXEditMovieView::transformedSaturation() const
{
    return truncated((m_vars.vSaturation - 1.0) * 100.0);
}

int NXEditMovieView::transformedGamma() const
{
    return truncated(((m_vars.vGamma - 0.1) / 2.9 - 0.5) * 200.0);
}

int NXEditMovieView::transformedHue() const
{
    return truncated(m_vars.vHueAngle / 3.14 * 100.0);
}

void NXEditMovieView::setCropRectPercent(const QRectF& fractions)
{
    const QImage picture = currentVideoFrame();
    if (picture.isNull())
        return;
    // A stored or typed crop may reach past the picture's edge; only the part
    // inside the picture can be shown.
    const QRectF inside = fractions.intersected(QRectF(0, 0, 1, 1));
    m_vars.vCropRect = QRectF(inside.x() * picture.width(), inside.y() * picture.height(),
        inside.width() * picture.width(), inside.height() * picture.height());
    m_vars.needCrop = 100;
    adjustGeometryFilter();
}

void NXEditMovieView::setCropRect(const QRectF& pixels)
{
    m_vars.vCropRect = pixels;
    m_vars.needCrop = 100;
    adjustGeometryFilter();
}

void NXEditMovieView::rotateLeft90()
{
    // The stored angle counts counter-clockwise: adding three quarters turns
    // the picture a quarter clockwise.
    m_vars.vRorateDegree = (m_vars.vRorateDegree + 270) % 360;
    adjustGeometryFilter();
}

void NXEditMovieView::flipHorizontal()
{
    m_vars.vFlip = m_vars.vFlip != 0 ? 0 : 1;
    adjustGeometryFilter();
}

void NXEditMovieView::setRotateDegress(int clockwiseDegrees, bool flip)
{
    m_vars.vFlip = flip ? 1 : 0;
    // Any whole turn the node may hold (-90, 450) is the same picture; the
    // view keeps 1 to 360.
    m_vars.vRorateDegree = 360 - ((clockwiseDegrees % 360) + 360) % 360;
    adjustGeometryFilter();
}

void NXEditMovieView::resetGeometry()
{
    m_vars.needCrop = 0;
    m_vars.vRorateDegree = 0;
    m_vars.vFlip = 0;
    adjustGeometryFilter();
}

void NXEditMovieView::setEnableColorEffect(bool on)
{
    if (on == m_enableColorEffect)
        return;
    {
        const QMutexLocker locker(&m_lock);
        if (on)
            m_colorFilters.emplace(m_vars);
        else
            m_colorFilters.reset();
    }
    m_enableColorEffect = on;
}

void NXEditMovieView::setEnableEditEffect(bool on)
{
    if (on == m_enableEditEffect)
        return;
    setEnableColorEffect(on);
    setEnableCropEffect(on);
    m_enableEditEffect = on;
}

void NXEditMovieView::resetColorAdjust()
{
    {
        const QMutexLocker locker(&m_lock);
        m_vars.vBrightness = 0.0;
        m_vars.vContrast = 1.0;
        m_vars.vGamma = 0.75;
        m_vars.vHueAngle = 0.0;
        m_vars.vSaturation = 1.0;
        if (m_colorFilters)
            m_colorFilters.emplace(m_vars);
    }
    emitEveryColorChange();
    displayImage();
}

void NXEditMovieView::setInternalEffectIndex(int index)
{
    if (index == m_vars.internalEffectIndex)
        return;
    m_vars.internalEffectIndex = index;
    if (index == 1) {
        m_vars.vHueAngle = 1.0;
        m_vars.vSaturation = 0.25;
        adjustColorFilter();
        emit hueChanged();
        emit saturationChanged();
        displayImage();
    } else if (index == 0) {
        setSaturation(0.0);
    } else {
        resetColorAdjust();
    }
}

void NXEditMovieView::setCurrentVideoFrame(const QImage& picture)
{
    const QMutexLocker locker(&m_lock);
    m_currentVideoFrame = picture;
}

QImage NXEditMovieView::currentVideoFrame() const
{
    const QMutexLocker locker(&m_lock);
    return m_currentVideoFrame;
}

void NXEditMovieView::displayImage()
{
    // The frame thread asks for redisplay too; a widget is only touched on its own thread.
    if (QThread::currentThread() == thread())
        update();
    else
        QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

QImage NXEditMovieView::resultOfImageFilterFromImage(const QImage& picture) const
{
    const QMutexLocker locker(&m_lock);
    return filteredLocked(picture);
}

QImage NXEditMovieView::resultOfImageColorFilterFromImage(const QImage& picture) const
{
    const QMutexLocker locker(&m_lock);
    return m_colorFilters ? m_colorFilters->apply(picture) : QImage();
}

QRect NXEditMovieView::cropedImageBlackRegionRect() const
{
    const QImage picture = currentVideoFrame();
    return picture.isNull() ? QRect() : extentByDividingBlackRegion(picture);
}

void NXEditMovieView::paintEvent(QPaintEvent* event)
{
    if (m_movieStop)
        return;
    QImage result;
    {
        const QMutexLocker locker(&m_lock);
        if (!m_currentVideoFrame.isNull())
            result = filteredLocked(m_currentVideoFrame);
    }
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    if (result.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF picture = fittedPictureRect(result.size(), size());
    painter.drawImage(picture, result);
    for (std::size_t place = 0; place < m_subtitleLines.size(); ++place)
        drawSubtitle(painter, picture, m_subtitleLines[place], PreviewSubtitle::Place(place));
}

void NXEditMovieView::setSubtitleLines(const PreviewSubtitle::Lines& lines)
{
    if (lines == m_subtitleLines)
        return;
    m_subtitleLines = lines;
    update();
}

QImage NXEditMovieView::filteredLocked(const QImage& picture) const
{
    QImage result = picture;
    if (m_vars.needCrop > 0 && m_enableCropEffect)
        result = croppedPicture(result, m_vars.vCropRect);
    if (m_enableColorEffect && m_colorFilters)
        result = m_colorFilters->apply(result);
    if (m_vars.vFlip < 1 && m_vars.vRorateDegree < 1)
        return result;
    return transformedPicture(result, m_geometry);
}

void NXEditMovieView::stepValue(int tag, double direction)
{
    switch (tag) {
    case 'B':
    case 'b':
        return setBrightness(brightness() + direction * 0.01);
    case 'C':
    case 'c':
        return setContrast(contrast() + direction * 0.01875);
    case 'G':
    case 'g':
        return setGamma(gamma() + direction * 0.0145);
    case 'H':
    case 'h':
        return setHue(hue() + direction * 0.0314);
    case 'S':
    case 's':
        return setSaturation(saturation() + direction * 0.01);
    default:
        return;
    }
}

void NXEditMovieView::adjustColorFilter()
{
    const QMutexLocker locker(&m_lock);
    if (m_colorFilters)
        m_colorFilters.emplace(m_vars);
}

void NXEditMovieView::adjustGeometryFilter()
{
    {
        const QMutexLocker locker(&m_lock);
        m_geometry = editGeometryTransform(rotationDegress() % 360, isFlippedHorizontal());
    }
    displayImage();
}

void NXEditMovieView::emitEveryColorChange()
{
    emit brightnessChanged();
    emit contrastChanged();
    emit saturationChanged();
    emit gammaChanged();
    emit hueChanged();
}
