#pragma once

#include <QRectF>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>

// The state and arithmetic of the time picker: three fields that always
// normalise through their total, so 75 typed into the minutes reads 1:15:00.
// A plain record, kept apart from the widget so that the arithmetic stays
// readable on its own.
struct NXTimeCell {
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t secends = 0;
    // The selected field: -1 none, 0 hours, 1 minutes, 2 seconds.
    int32_t selectIndex = -1;
    // 0 left, 1 right, 2 centre.
    int32_t alignment = 2;
    // 0 plain, 1 with a stepper at the right edge.
    int32_t cellPickerStyle = 0;
    // Time stamp (seconds) of the last typed digit; 0 after every arrow,
    // Tab or Space, so that the next digit starts the field afresh.
    double eventTimeInterval = 0;

    int32_t timeSecond2TotalSeconds() const;
    QString stringValue() const;
    void timeSecond2Splice(int32_t total);
    void verificationTimeFormat();
    int32_t selectionValue() const;
    void setSelectionValue(int32_t value);
    void autoIncrement(int32_t amount);
    void autoDecrement(int32_t amount);
    void moveLeft();
    void moveRight();
    // The rectangle of field 0, 1 or 2 in a control `width` wide.
    QRectF timeRectWidhtIndex(int index, double width) const;
    QRectF selectionRect(double width) const;
};

// A duration shown as hours, minutes and seconds, edited by clicking a field
// and typing digits, by the arrow keys or by the stepper. The action
// (actionTriggered) reports edits; typed digits are sent a second after the
// last key unless the field is complete or Return is pressed, so a person
// typing "59" does not seek the player twice. The value is never negative.
class NXTimePicker : public QWidget {
    Q_OBJECT
public:
    explicit NXTimePicker(QWidget* parent = nullptr);

    void setDoubleValue(double value);
    void setFloatValue(float value) { setDoubleValue(value); }
    void setIntegerValue(int32_t value);
    void setIntValue(int32_t value) { setIntegerValue(value); }
    int32_t integerValue() const { return m_cell.timeSecond2TotalSeconds(); }
    int32_t intValue() const { return integerValue(); }
    double doubleValue() const { return integerValue(); }
    float floatValue() const { return static_cast<float>(integerValue()); }
    QString stringValue() const { return m_cell.stringValue(); }

    int32_t hours() const { return m_cell.hours; }
    int32_t minutes() const { return m_cell.minutes; }
    int32_t secends() const { return m_cell.secends; }
    void setHours(int32_t value);
    void setMinutes(int32_t value);
    void setSecends(int32_t value);

    void setMinTimeValue(int32_t value) { minValue_ = value; }
    void setMaxTimeValue(int32_t value) { maxValue_ = value; }
    int32_t minTimeValue() const { return minValue_; }
    int32_t maxTimeValue() const { return maxValue_; }
    void checkTimeValue();

    void setPickerStyle(int32_t style);
    int32_t pickerStyle() const { return m_cell.cellPickerStyle; }
    void setAlignment(int32_t alignment);
    int32_t selectIndex() const { return m_cell.selectIndex; }

    void moveLeft();
    void moveRight();
    void moveUp();
    void moveDown();
    // Pulls the value into the limits and sends the action, when someone
    // listens to it.
    void fire2SendAction();
    // What the last action had been given before the limits pulled it back;
    // none when it was within them.
    std::optional<int32_t> limitedFrom() const { return m_limitedFrom; }

    QSize sizeHint() const override;

public slots:
    // For an external stepper: up when its value grew since the last call.
    void stepperAction(double value);

signals:
    void actionTriggered(NXTimePicker* picker);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Tab moves between the fields, as Space and Right do.
    bool focusNextPrevChild(bool next) override;

private:
    bool hasAction() const;
    void sendActionToTarget();
    void typeDigit(int digit, double timeStamp);
    void scheduleDelayedAction();
    QRectF stepperRect() const;
    void drawFields(QPainter& painter, const QRectF& textArea);
    void drawStepper(QPainter& painter, const QRectF& textArea);

    NXTimeCell m_cell;
    int32_t minValue_ = 0;
    int32_t maxValue_ = 2147483647;
    double m_stepperValue = 0;
    std::optional<int32_t> m_limitedFrom;
    QTimer* m_delayedAction = nullptr;
};
