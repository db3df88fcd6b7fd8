#pragma once

#include "controls/DNButton.h"

#include <QColor>
#include <QSizeF>

// An image button whose title is drawn over its image in a colour of its
// own, given as "red x green x blue x alpha" fractions ("1.0x1.0x1.0x1.0",
// white, by default).
class NXButton : public DNButton {
    Q_OBJECT
public:
    explicit NXButton(const QString& title = {}, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const { return m_title; }
    QString colorCompanets() const { return m_colorCompanets; }
    // Four parts make the title's colour; any other text leaves it as it was.
    void setColorCompanets(const QString& components);
    QColor titleColor() const { return m_titleColor; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void measureTitle();

    QString m_colorCompanets = QStringLiteral("1.0x1.0x1.0x1.0");
    QColor m_titleColor = Qt::white;
    QString m_title;
    QSizeF m_titleSize;
};
