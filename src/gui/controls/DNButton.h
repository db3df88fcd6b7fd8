#pragma once

#include <QPixmap>
#include <QPushButton>

// An image button that shows a second image while the pointer is over it and
// can tell its owner about a press before the ordinary click handling.
class DNButton : public QPushButton {
    Q_OBJECT
public:
    explicit DNButton(QWidget* parent = nullptr);

    void setNormalImage(const QPixmap& image);
    void setHighlightImage(const QPixmap& image);
    // An image of the program's resources (images/<name>); false when missing.
    bool setHighlightImageName(const QString& name);
    void setAlternateImage(const QPixmap& image) { m_alternateImage = image; }

    QPixmap normalImage() const { return m_normalImage; }
    QPixmap highlightImage() const { return m_highlightImage; }
    bool isShowingHighlight() const { return m_showingHighlight; }

signals:
    // Sent on mouse down, before clicked().
    void mouseDown(DNButton* button);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void showImage(const QPixmap& image);

    QPixmap m_normalImage;
    QPixmap m_highlightImage;
    QPixmap m_alternateImage;
    bool m_showingHighlight = false;
};
