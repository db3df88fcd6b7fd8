#pragma once

#include <QPixmap>
#include <QRectF>
#include <QWidget>

// A download's progress drawn from pictures: a three-part background, a fill
// as wide as the progress and, above 8 %, the percent in white at the fill's
// end. Values are fractions from 0 to 1.
class NXProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit NXProgressBar(QWidget* parent = nullptr);

    void setFloatValue(float value) { setDoubleValue(value); }
    void setDoubleValue(double value);
    // A whole number cannot be a fraction of the way.
    void setIntValue(int) = delete;
    double doubleValue() const { return curProgress_; }

    // Pictures of the resources in place of the middle background part and
    // the fill; empty for the default ones.
    void setBackgroundImage(const QString& name);
    void setForcegroundImage(const QString& name);
    QString backgroundImage() const { return m_backgroundImageName; }
    QString forcegroundImage() const { return m_forcegroundImageName; }

    QRectF innerProgressRect() const { return m_innerProgressRect; }
    QRectF percentNoticeRect() const { return m_percentNoticeRect; }

    QSize sizeHint() const override { return { 270, 14 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawBackground(QPainter& painter) const;
    void drawFill(QPainter& painter);
    void drawPercent(QPainter& painter);

    double curProgress_ = 0;
    QRectF m_innerProgressRect;
    QRectF m_percentNoticeRect { 0, 3, 30, 10 };
    QString m_backgroundImageName;
    QString m_forcegroundImageName;
    QPixmap m_backgroundImage;
    QPixmap m_forcegroundImage;
};
