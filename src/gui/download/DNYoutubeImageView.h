#pragma once

#include <QPixmap>
#include <QWidget>

// A download row's thumbnail: the cover fitted at its proportions on black,
// or black alone without one.
class DNYoutubeImageView : public QWidget {
    Q_OBJECT
public:
    explicit DNYoutubeImageView(QWidget* parent = nullptr);

    void setImage(const QPixmap& image);
    QPixmap image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_image;
};
