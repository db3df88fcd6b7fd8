#pragma once

#include <QWidget>

#include <functional>

class QTimer;

// The number of the countdown: large and red on a dark rounded plate.
class DNBGView : public QWidget {
    Q_OBJECT
public:
    explicit DNBGView(QWidget* parent = nullptr);

    int number() const { return m_number; }
    void setNumber(int number);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_number = 3;
};

// A small borderless window in the middle of the main screen counting down
// once a tick before a recording starts; at the end it calls its action and
// goes away (it deletes itself).
class DNCountDown : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTickMs = 1000;

    // Showing 3; `tickMs` is the length of one count.
    explicit DNCountDown(int tickMs = kTickMs);

    void setCountDownNumber(int number);
    int countDownNumber() const;
    void setAction(std::function<void()> action) { m_action = std::move(action); }
    // Shows the window and starts counting.
    void displayCountdown();
    // One count; the timer calls it, and tests call it in its place.
    void tick();

private:
    QTimer* m_countdownTimer = nullptr;
    std::function<void()> m_action;
    DNBGView* m_reserve = nullptr;
};
