#pragma once

#include <QLabel>
#include <QWidget>

#include <optional>

// The camera recorder's small views.

// The recorded time as hours, minutes and seconds on a dark plate.
class NXTimerRemaidView : public QWidget {
    Q_OBJECT
public:
    explicit NXTimerRemaidView(QWidget* parent = nullptr);

    void setTimeSeconds(quint32 seconds);
    // Each part as shown: two digits at least ("01", "100").
    QString hoursText() const { return digits(m_hours); }
    QString minutesText() const { return digits(m_minutes); }
    QString secondsText() const { return digits(m_seconds); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QString digits(quint32 value);

    quint32 m_hours = 0;
    quint32 m_minutes = 0;
    quint32 m_seconds = 0;
};

// The sound's peak level as a bar: empty at -60 dB and below, full at 0 dB.
class NXWaveView : public QWidget {
    Q_OBJECT
public:
    explicit NXWaveView(QWidget* parent = nullptr);

    void setLevel(double decibels);
    // The part of the bar that is lit, 0 to 1.
    double fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_fill = 0;
};

// A picture that moves its window when dragged. The window system moves the
// window where it can; where it cannot (offscreen, some X11 setups) the
// window follows the pointer by itself.
class NXMovableImageView : public QLabel {
    Q_OBJECT
public:
    explicit NXMovableImageView(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where the pointer grabbed the window, from its top left corner.
    std::optional<QPoint> m_grab;
};
