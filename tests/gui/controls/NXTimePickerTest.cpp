// The time picker's field arithmetic, typing rhythm, limits and stepper.
#include "controls/NXTimePicker.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Key {
    int key;
    ulong timeMs;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

void press(NXTimePicker& picker, const Key& key)
{
    QKeyEvent event(QEvent::KeyPress, key.key, key.modifiers);
    event.setTimestamp(key.timeMs);
    QCoreApplication::sendEvent(&picker, &event);
}

void click(NXTimePicker& picker, QPointF point)
{
    QMouseEvent event(QEvent::MouseButtonPress, point, picker.mapToGlobal(point), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&picker, &event);
}

// Records every action with the value it carried.
struct Sent {
    explicit Sent(NXTimePicker& picker)
    {
        QObject::connect(&picker, &NXTimePicker::actionTriggered,
            [this](NXTimePicker* sender) { values.push_back(sender->integerValue()); });
    }
    std::vector<int> values;
};

TEST(NXTimePicker, ValuesRoundUpToWholeSecondsAndObeyTheLimits)
{
    const struct {
        double value;
        int minimum, maximum;
        int hours, minutes, seconds;
    } cases[] = {
        { 59.2, 0, 2147483647, 0, 1, 0 }, { 3599.0, 0, 2147483647, 0, 59, 59 },
        { 45 * 3600 + 1, 0, 2147483647, 45, 0, 1 }, { 7200, 0, 3600, 1, 0, 0 },
        // Crossed limits: the minimum wins.
        { 10, 100, 50, 0, 1, 40 }, { 70, 100, 50, 0, 1, 40 },
        { 10, 0, -2, 0, 0, 0 }, // never below zero
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.value);
        NXTimePicker picker;
        picker.setMinTimeValue(row.minimum);
        picker.setMaxTimeValue(row.maximum);
        picker.setDoubleValue(row.value);
        EXPECT_EQ(picker.hours(), row.hours);
        EXPECT_EQ(picker.minutes(), row.minutes);
        EXPECT_EQ(picker.secends(), row.seconds);
    }
}

TEST(NXTimePicker, DigitsJoinWithinASecondAndSendWhenTheFieldIsComplete)
{
    const auto pad = Qt::KeypadModifier;
    const struct {
        const char* name;
        int rightPresses; // from no selection: 1 hours, 2 minutes, 3 seconds
        std::vector<Key> digits;
        int hours, minutes, seconds;
        int sentAtOnce;
        bool delayedPending;
    } cases[] = {
        { "minutes 5 9", 2, { { Qt::Key_5, 10000 }, { Qt::Key_9, 10500 } }, 0, 59, 0, 1, false },
        { "minutes 7 5", 2, { { Qt::Key_7, 10000 }, { Qt::Key_5, 10500 } }, 0, 5, 0, 0, true },
        { "keypad minutes 5 9", 2, { { Qt::Key_5, 10000, pad }, { Qt::Key_9, 10500, pad } }, 0, 59,
            0, 1, false },
        { "hours 4 5", 1, { { Qt::Key_4, 10000 }, { Qt::Key_5, 10900 } }, 45, 0, 0, 1, false },
        { "seconds 9 9", 3, { { Qt::Key_9, 10000 }, { Qt::Key_9, 10500 } }, 0, 0, 9, 0, true },
        { "minutes 1 2 3", 2, { { Qt::Key_1, 10000 }, { Qt::Key_2, 10500 }, { Qt::Key_3, 11400 } },
            0, 3, 0, 1, true },
        { "a pause starts afresh", 2, { { Qt::Key_1, 10000 }, { Qt::Key_2, 11100 } }, 0, 2, 0, 0,
            true },
        { "no selection types seconds", 0, { { Qt::Key_3, 10000 } }, 0, 0, 3, 0, true },
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        NXTimePicker picker;
        const Sent sent(picker);
        for (int i = 0; i < row.rightPresses; ++i)
            press(picker, { Qt::Key_Right, 0 });
        for (const Key& digit : row.digits)
            press(picker, digit);
        EXPECT_EQ(picker.hours(), row.hours);
        EXPECT_EQ(picker.minutes(), row.minutes);
        EXPECT_EQ(picker.secends(), row.seconds);
        EXPECT_EQ(int(sent.values.size()), row.sentAtOnce);
        const auto* delayed = picker.findChild<QTimer*>(QStringLiteral("delayedAction"));
        ASSERT_NE(delayed, nullptr);
        EXPECT_EQ(delayed->isActive(), row.delayedPending);
    }
}

TEST(NXTimePicker, ArrowsSelectAndStepWhileTypedValuesWaitForTheAction)
{
    NXTimePicker picker;
    const Sent sent(picker);
    press(picker, { Qt::Key_Down, 0 });
    EXPECT_EQ(picker.integerValue(), 0);
    EXPECT_EQ(sent.values, std::vector<int> { 0 });
    press(picker, { Qt::Key_Left, 0 });
    EXPECT_EQ(picker.selectIndex(), 2);
    press(picker, { Qt::Key_Tab, 0 });
    EXPECT_EQ(picker.selectIndex(), 0);

    // Above the maximum on screen until the action, then the maximum.
    picker.setMaxTimeValue(100);
    press(picker, { Qt::Key_Right, 0 });
    press(picker, { Qt::Key_5, 20000 });
    EXPECT_EQ(picker.integerValue(), 300);
    press(picker, { Qt::Key_3, 20400 });
    EXPECT_EQ(sent.values, (std::vector<int> { 0, 100 }));
    EXPECT_EQ(picker.integerValue(), 100);

    // Nobody listening: nothing pulls a typed value back.
    NXTimePicker unheard;
    unheard.setMaxTimeValue(100);
    press(unheard, { Qt::Key_Right, 0 });
    press(unheard, { Qt::Key_Right, 0 });
    press(unheard, { Qt::Key_1, 10000 });
    press(unheard, { Qt::Key_2, 10300 });
    EXPECT_EQ(unheard.integerValue(), 720);
}

TEST(NXTimePicker, StepperHalvesStepAndSendAtOnceAndAssistiveActionsDoNotSend)
{
    NXTimePicker picker;
    const Sent sent(picker);
    picker.resize(picker.sizeHint());
    const double stepperX = picker.width() - 8;
    click(picker, { stepperX, 5 });
    EXPECT_EQ(picker.integerValue(), 1);
    click(picker, { stepperX, 16 });
    click(picker, { stepperX, 16 });
    EXPECT_EQ(picker.integerValue(), 0);
    EXPECT_EQ(sent.values, (std::vector<int> { 1, 0, 0 }));

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&picker);
    ASSERT_NE(accessible, nullptr);
    accessible->actionInterface()->doAction(QAccessibleActionInterface::increaseAction());
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("0:0:1"));
    EXPECT_EQ(accessible->text(QAccessible::Description), QStringLiteral("Time Picker"));
    EXPECT_EQ(sent.values.size(), 3U);
}

} // namespace
