#pragma once

#include <QGraphicsView>
#include <QPainterPath>
#include <QVariant>

#include <functional>
#include <optional>

class QGraphicsPixmapItem;
class QVariantAnimation;
class PhotoLayerItem;

// What the progress sheet shows while the slideshow engine renders an album:
// a stack of empty photo frames on the left, a film frame on the right, the
// photo being rendered on top of the stack, and each photo flying in an arc
// from the stack into the film frame, where it stays as the frame's picture.
// The sheet hands it the photo being rendered at every poll. A flight lasts
// one second and is followed by half a second of rest before the next may
// start.
class ImgEncodeProgressView : public QGraphicsView {
    Q_OBJECT
public:
    // Milliseconds of a steady clock; tests pass their own.
    using Clock = std::function<qint64()>;

    static constexpr QSize kViewSize { 390, 180 };
    static constexpr int kFlightMs = 1000;
    static constexpr int kSettleMs = 500;

    explicit ImgEncodeProgressView(QWidget* parent = nullptr, Clock clock = {});
    ~ImgEncodeProgressView() override;

    // The photo now being rendered (a path), or a null value before the
    // engine has named one. The first photo only fills the top of the stack;
    // after that, when no flight runs or rests, the photo on the stack flies
    // into the film frame and the new one takes its place. True when a flight
    // started.
    bool imageBeginEncoding(const QVariant& path);

    // Where the photos sit on the stack and in the film frame (view points).
    QRectF iconRect() const;
    QRectF tbRect() const;
    // The picture in the film frame, fitted into tbRect(); empty before the
    // first landing.
    QRectF iconPictureRect() const;
    bool isShowingPhoto() const;
    bool isFlying() const;

    // The frame of an iw x ih picture fitted into `box`, centred on the
    // short side.
    static QRectF fittedRect(const QSizeF& image, const QRectF& box);
    // The empty frames of the stack, each turned by a small random angle.
    static QImage createStackImage(const QSize& size);

    QSize sizeHint() const override { return kViewSize; }

private:
    void makeReady();
    void makeFlightPath();
    bool flightMayStart() const;
    void startFlight(const QImage& nextPhoto);
    void moveAlongPath(double progress);
    void land();

    const Clock m_clock;
    QGraphicsPixmapItem* m_imageStackLayer = nullptr;
    PhotoLayerItem* m_myCurrentLayer = nullptr;
    PhotoLayerItem* m_animateLayer = nullptr;
    QGraphicsPixmapItem* m_movieIconLayer = nullptr;
    QGraphicsPixmapItem* m_thumbnailLayer = nullptr;
    QPointF m_startPoint;
    QPointF m_endPoint;
    QPainterPath m_aniamtePath;
    QRectF m_tbRect;
    QVariantAnimation* m_flight = nullptr;
    std::optional<qint64> m_flightStartedAt;
};
