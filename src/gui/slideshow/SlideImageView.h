#pragma once

#include <QImage>
#include <QWidget>

// Shows a picture scaled to fit, with the bands it leaves free (the letterbox
// bars) darkened, so a photo of another shape than the view sits in a frame.
// Mouse presses go on to the view below it.
class SlideImageView : public QWidget {
    Q_OBJECT
public:
    explicit SlideImageView(QWidget* parent = nullptr);

    QImage image() const { return m_image; }
    void setImage(const QImage& image);

    // Where the picture lands in the view: its size fitted to the view, centred.
    static QRectF fittedRect(const QSizeF& picture, const QSizeF& view);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage m_image;
};
