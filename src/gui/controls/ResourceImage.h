#pragma once

#include <QPixmap>
#include <QString>

// A picture of the program's resources by its file name ("playIcon.png");
// a null pixmap when it is missing.
QPixmap resourceImage(const QString& name);
