#pragma once

#include <QWidget>

// The download list's document: the rows lie on it one under the other,
// counted from its top.
class NXYTView : public QWidget {
    Q_OBJECT
public:
    explicit NXYTView(QWidget* parent = nullptr);
};
