#pragma once

#include "controls/DNAreaSelector.h"

#include <QColor>
#include <QFont>
#include <QImage>

// The watermark box's centre: outlined, without shading the picture around it.
class DNWatermarkCenterCell : public DNCenterDragCell {
public:
    void drawCellInView(QPainter& painter, const DNAreaSelector& view) const override;
};

// A watermark picture fitted, with its proportions, into the selection over
// the edited preview, at the chosen transparency; the person moves and
// resizes it.
class DNImageWatermarkView : public DNAreaSelector {
    Q_OBJECT
public:
    explicit DNImageWatermarkView(const QRect& frame, QWidget* parent = nullptr);

    // Stores the rectangle and places the handles; tells nobody.
    void setSelectionArea(const QRectF& area) override;
    void setImage(const QImage& image);
    QImage image() const { return m_image; }
    // Percent, 0 opaque to 100 invisible; the caller repaints.
    void setTransparency(float percent) { m_transparency = percent; }
    float transparency() const { return m_transparency; }

protected:
    std::unique_ptr<DNDragCell> classOfCenterDragArea() const override;
    // A new frame puts the box back to its place in the top-left corner:
    // callers restore a saved box after setting the frame.
    void frameDidChange() override;
    void drawRect(QPainter& painter) override;

private:
    QRectF defaultSelection() const;

    QImage m_image;
    float m_transparency = 0;
};

// A watermark box that can also render a text into its picture. The text is
// drawn at 144 points whatever font size is chosen, and the box's size
// scales it on screen.
class DNWatermarkView : public DNImageWatermarkView {
    Q_OBJECT
public:
    explicit DNWatermarkView(const QRect& frame, QWidget* parent = nullptr);

    // The first text also sizes the box; a null text removes the picture.
    void setText(const QString& text);
    QString text() const { return m_text; }
    // Only the font's family and style count; the size is always 144.
    void setTextFont(const QFont& font);
    QFont textFont() const { return m_textFont; }
    void setTextColor(const QColor& colour);
    QColor textColor() const { return m_textColor; }

    void updateContextImage();
    void calculateStringRect(const QString& text);

private:
    QString m_text;
    QFont m_textFont;
    QColor m_textColor = Qt::lightGray;
};
