#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QTabWidget;
class QWidget;

// A tab of the editor whose lamp tells whether that tab's edit is switched
// on. The lamp is the tab's icon; a new tab shows it lit.
class DNTabViewItem : public QObject {
    Q_OBJECT
public:
    // Adds `page` to `tabView` under `label`; the tab view owns both.
    DNTabViewItem(QWidget* page, const QString& label, QTabWidget* tabView);

    bool imageState() const { return m_imageState; }
    // Repaints the tab only when the state changes: the editor sets every
    // lamp on each refresh of its controls.
    void setImageState(bool on);
    QWidget* page() const { return m_page; }
    // Puts a removed tab back, last, with its label and lamp.
    void appendToTabView();

private:
    void showLamp();

    QPointer<QTabWidget> m_tabView;
    QPointer<QWidget> m_page;
    QString m_label;
    bool m_imageState = true;
};
