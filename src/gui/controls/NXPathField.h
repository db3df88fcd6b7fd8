#pragma once

#include <QLineEdit>

// A folder shown in a field too narrow for it: the end of the path, which
// names the folder, with an ellipsis where the start is cut off, and the
// whole path as the tooltip. The path is chosen with a panel, not typed.
class NXPathField : public QLineEdit {
    Q_OBJECT
public:
    explicit NXPathField(QWidget* parent = nullptr);

    QString path() const { return m_path; }
    void setPath(const QString& path);

    // Room for the last folders of a path, not a line edit's few words.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void showPath();

    QString m_path;
};
