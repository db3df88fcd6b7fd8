#pragma once

#include <QTimer>
#include <QWidget>

// A busy bar: a block that runs back and forth while animating, for work
// whose length is unknown (probing files, stopping an engine).
class DNProgressIndicator : public QWidget {
    Q_OBJECT
public:
    explicit DNProgressIndicator(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_timer.isActive(); }

    QSize sizeHint() const override { return { 160, 10 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void advance();

    QTimer m_timer;
    int m_phase = 0;
};
