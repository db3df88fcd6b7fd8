#pragma once

#include <QRect>
#include <QWidget>

// Dims the screen around the recorded region. (Named without the leading
// underscore of its family's other name: such names are reserved in C++.)
class DNFrameViewExt : public QWidget {
    Q_OBJECT
public:
    explicit DNFrameViewExt(QWidget* parent = nullptr);

    // In the view's coordinates.
    QRect clearFrame() const { return m_clearFrame; }
    void setClearFrame(const QRect& frame);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect m_clearFrame;
};

// A view that outlines itself in green, for marking a place in a layout.
class DNFrameView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The window over the whole recorded screen while a region of it is recorded. It
// never takes the mouse and stays above the other windows. Its region is a
// hole in the window's shape: without a compositor a translucent window
// paints black, and the recorder would record that black, so the recorded
// pixels must not belong to this window at all.
class DNRecordFrame : public QWidget {
    Q_OBJECT
public:
    // `region` and `screen` (the recorded screen's geometry) in Qt's screen
    // coordinates (top-left origin).
    DNRecordFrame(const QRect& region, const QRect& screen);

    void displayFrame();
    // Hides the frame; it can be shown again.
    void destroyFrame();
    DNFrameViewExt* frameView() const { return m_view; }

private:
    DNFrameViewExt* m_view = nullptr;
};
