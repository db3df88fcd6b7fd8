#include "download/NXYTView.h"

NXYTView::NXYTView(QWidget* parent)
    : QWidget(parent)
{
    // The list's background shows between and below the rows.
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    setPalette(colours);
}
