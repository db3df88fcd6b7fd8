#pragma once

#include <QWidget>

class NXMPlayerView;
class NXSlider;

// The full-screen bar at the bottom of the playback view: a position slider
// whose changes go to the view.
class NXMPlayerControlBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 15;

    explicit NXMPlayerControlBar(NXMPlayerView& target);

    NXSlider* durationSlider() const { return m_durationSlider; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void initControlSence();

    NXMPlayerView& m_target;
    NXSlider* m_durationSlider = nullptr;
};
