#include "shell/ImgEncodeProgressView.h"

#include "platform/AppPaths.h"
#include "slideshow/ThumbnailOfImage.h"

#include <QDir>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPainter>
#include <QRandomGenerator>
#include <QVariantAnimation>

#include <chrono>

namespace {

constexpr double kThumbnailSide = 120;
constexpr double kBorderWidth = 4;
const QRectF kStackFrame(0, 5, 160, 160); // from the bottom left, as the rest below
constexpr double kStackPhotoInset = 25;
constexpr double kFramePictureInset = 22;
const QSizeF kFramePictureSize(125, 97);
constexpr double kMovieIconDrop = 8;

// The layout is laid out from the bottom left; the scene counts from the top.
QRectF fromBottomLeft(const QRectF& rect)
{
    return { rect.x(), ImgEncodeProgressView::kViewSize.height() - rect.y() - rect.height(),
        rect.width(), rect.height() };
}

qint64 steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QImage thumbnailOf(const QVariant& path)
{
    return ThumbnailOfImage(path.toString(), kThumbnailSide, kThumbnailSide);
}

QGraphicsDropShadowEffect* photoShadow()
{
    auto* shadow = new QGraphicsDropShadowEffect;
    shadow->setBlurRadius(6);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(0, 0, 0, 178));
    return shadow;
}

} // namespace

// A photo in a white frame on black, turned about its centre: the photo on
// top of the stack, and the one in flight.
class PhotoLayerItem : public QGraphicsItem {
public:
    explicit PhotoLayerItem(const QRectF& frame)
        : m_bounds(-frame.width() / 2, -frame.height() / 2, frame.width(), frame.height())
    {
        setPos(frame.center());
        setGraphicsEffect(photoShadow());
    }

    QImage image() const { return m_image; }
    void setImage(const QImage& image)
    {
        m_image = image;
        update();
    }
    QRectF boundingRect() const override { return m_bounds; }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override
    {
        painter->fillRect(m_bounds, Qt::black);
        if (!m_image.isNull())
            painter->drawImage(
                ImgEncodeProgressView::fittedRect(m_image.size(), m_bounds), m_image);
        const double half = kBorderWidth / 2;
        painter->setPen(QPen(Qt::white, kBorderWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(m_bounds.adjusted(half, half, -half, -half));
    }

private:
    const QRectF m_bounds;
    QImage m_image;
};

ImgEncodeProgressView::ImgEncodeProgressView(QWidget* parent, Clock clock)
    : QGraphicsView(parent)
    , m_clock(clock ? std::move(clock) : Clock(&steadyMilliseconds))
{
    setScene(new QGraphicsScene(QRectF(QPointF(0, 0), QSizeF(kViewSize)), this));
    setFixedSize(kViewSize);
    setFrameShape(QFrame::NoFrame);
    // The sheet's own background shows through.
    setStyleSheet(QStringLiteral("QGraphicsView { background: transparent; }"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    makeReady();
}

ImgEncodeProgressView::~ImgEncodeProgressView() = default;

// The layers in the order they are stacked, later ones on top.
void ImgEncodeProgressView::makeReady()
{
    const QRectF stack = fromBottomLeft(kStackFrame);
    m_imageStackLayer
        = scene()->addPixmap(QPixmap::fromImage(createStackImage(stack.size().toSize())));
    m_imageStackLayer->setPos(stack.topLeft());

    m_myCurrentLayer = new PhotoLayerItem(iconRect());
    scene()->addItem(m_myCurrentLayer);
    m_animateLayer = new PhotoLayerItem(iconRect());
    m_animateLayer->hide();
    scene()->addItem(m_animateLayer);

    // Without its picture the film frame shows nothing; the photos still fly.
    const QPixmap movie(QDir(AppPaths::resourcesFolder()).filePath("images/movie.png"));
    const QRectF movieFrame(
        kViewSize.width() - movie.width(), -kMovieIconDrop, movie.width(), movie.height());
    m_movieIconLayer = scene()->addPixmap(movie);
    m_movieIconLayer->setPos(fromBottomLeft(movieFrame).topLeft());
    m_tbRect = fromBottomLeft(QRectF(
        movieFrame.topLeft() + QPointF(kFramePictureInset, kFramePictureInset), kFramePictureSize));
    m_thumbnailLayer = scene()->addPixmap({});
    m_thumbnailLayer->setTransformationMode(Qt::SmoothTransformation);

    makeFlightPath();
    m_flight = new QVariantAnimation(this);
    m_flight->setDuration(kFlightMs);
    m_flight->setStartValue(0.0);
    m_flight->setEndValue(1.0);
    m_flight->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_flight, &QVariantAnimation::valueChanged, this,
        [this](const QVariant& value) { moveAlongPath(value.toDouble()); });
    connect(m_flight, &QVariantAnimation::finished, this, &ImgEncodeProgressView::land);
}

// One curve from the stack over the top of the view down into the film frame.
void ImgEncodeProgressView::makeFlightPath()
{
    const QRectF icon = iconRect();
    m_startPoint = QPointF(icon.center().x() + 5, icon.center().y());
    m_endPoint = QPointF(m_movieIconLayer->sceneBoundingRect().center().x(), m_startPoint.y());
    const double dx = m_endPoint.x() - m_startPoint.x();
    m_aniamtePath = QPainterPath(m_startPoint);
    m_aniamtePath.cubicTo(QPointF(m_startPoint.x() + 0.3 * dx, m_startPoint.y()),
        QPointF(m_startPoint.x() + 0.5 * dx, 0), m_endPoint);
}

QImage ImgEncodeProgressView::createStackImage(const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF frame = QRectF(image.rect()).adjusted(20, 20, -20, -20);
    const QRectF photo = frame.adjusted(5, 5, -5, -5);
    for (int sheet = 0; sheet < 3; ++sheet) {
        const double radians = QRandomGenerator::global()->bounded(3500) / 10000.0;
        painter.translate(frame.center());
        painter.rotate(qRadiansToDegrees(radians));
        painter.translate(-frame.center());
        QPainterPath border;
        border.setFillRule(Qt::OddEvenFill);
        border.addRect(frame);
        border.addRect(photo);
        painter.fillPath(border, Qt::white);
        painter.fillRect(photo, Qt::lightGray);
    }
    return image;
}

QRectF ImgEncodeProgressView::iconRect() const
{
    const QRectF inset = kStackFrame.adjusted(
        kStackPhotoInset, kStackPhotoInset, -kStackPhotoInset, -kStackPhotoInset);
    return fromBottomLeft(inset);
}

QRectF ImgEncodeProgressView::tbRect() const
{
    return m_tbRect;
}

QRectF ImgEncodeProgressView::iconPictureRect() const
{
    const QPixmap picture = m_thumbnailLayer->pixmap();
    if (picture.isNull())
        return {};
    return fittedRect(picture.size(), m_tbRect);
}

bool ImgEncodeProgressView::isShowingPhoto() const
{
    return !m_myCurrentLayer->image().isNull();
}

bool ImgEncodeProgressView::isFlying() const
{
    return m_flight->state() == QAbstractAnimation::Running;
}

QRectF ImgEncodeProgressView::fittedRect(const QSizeF& image, const QRectF& box)
{
    const double widthRatio = image.width() / box.width();
    const double heightRatio = image.height() / box.height();
    if (widthRatio > heightRatio) {
        const double height = image.height() / widthRatio;
        return QRectF(0, (box.height() - height) / 2, box.width(), height)
            .translated(box.topLeft());
    }
    const double width = image.width() / heightRatio;
    return QRectF((box.width() - width) / 2, 0, width, box.height()).translated(box.topLeft());
}

bool ImgEncodeProgressView::imageBeginEncoding(const QVariant& path)
{
    if (path.isNull() || path.toString().isEmpty())
        return false;
    if (!isShowingPhoto()) {
        m_myCurrentLayer->setImage(thumbnailOf(path));
        return false;
    }
    if (!flightMayStart())
        return false;
    startFlight(thumbnailOf(path));
    return true;
}

bool ImgEncodeProgressView::flightMayStart() const
{
    return !m_flightStartedAt || m_clock() - *m_flightStartedAt >= kFlightMs + kSettleMs;
}

// The photo on the stack takes off and the next one takes its place. A flight
// whose time is over but whose last frame has not been drawn lands first.
void ImgEncodeProgressView::startFlight(const QImage& nextPhoto)
{
    if (isFlying()) {
        m_flight->stop();
        land();
    }
    m_animateLayer->setImage(m_myCurrentLayer->image());
    m_animateLayer->setPos(m_myCurrentLayer->pos());
    m_animateLayer->setRotation(0);
    m_animateLayer->show();
    m_myCurrentLayer->setImage(nextPhoto);
    m_flightStartedAt = m_clock();
    m_flight->start();
}

void ImgEncodeProgressView::moveAlongPath(double progress)
{
    m_animateLayer->setPos(m_aniamtePath.pointAtPercent(progress));
    // The path's angles turn counter-clockwise; the scene's rotation clockwise.
    m_animateLayer->setRotation(-m_aniamtePath.angleAtPercent(progress));
}

void ImgEncodeProgressView::land()
{
    m_animateLayer->hide();
    const QImage photo = m_animateLayer->image();
    if (photo.isNull()) {
        m_thumbnailLayer->setPixmap({});
        return;
    }
    const QRectF frame = fittedRect(photo.size(), m_tbRect);
    m_thumbnailLayer->setPixmap(QPixmap::fromImage(photo));
    m_thumbnailLayer->setPos(frame.topLeft());
    m_thumbnailLayer->setTransform(
        QTransform::fromScale(frame.width() / photo.width(), frame.height() / photo.height()));
}
