#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// One alert: a title, an informative text, the buttons from the default one
// on, and an optional suppression box.
struct NXAlert {
    QString title;
    QString text;
    QStringList buttons { QStringLiteral("OK") };
    QString suppressionText; // no box when empty
};

// What the user answered: the index of the button pressed, and the box.
struct NXAlertAnswer {
    int button = 0;
    bool suppressed = false;
};

// Every question the windows ask the user goes through here, so tests can
// answer in place of a person and see what was asked.
class NXDialogs {
public:
    virtual ~NXDialogs() = default;

    virtual NXAlertAnswer runAlert(QWidget* parent, const NXAlert& alert) = 0;
    // Files to add, of the extensions in `types` (any file when empty); empty
    // when cancelled.
    virtual QStringList openFiles(QWidget* parent, const QString& title, const QStringList& types)
        = 0;
    // A folder; empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
    // One or more folders; empty when cancelled.
    virtual QStringList chooseFolders(QWidget* parent, const QString& title, const QString& start)
        = 0;
    // One file whose extension is one of `types`; empty when cancelled.
    virtual QString openFile(QWidget* parent, const QString& title, const QStringList& types) = 0;
    // Nothing when cancelled.
    virtual std::optional<QFont> chooseFont(QWidget* parent, const QFont& initial) = 0;
    virtual std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) = 0;
};

// The real dialogs.
class NXQtDialogs : public NXDialogs {
public:
    NXAlertAnswer runAlert(QWidget* parent, const NXAlert& alert) override;
    QStringList openFiles(QWidget* parent, const QString& title, const QStringList& types) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
    QStringList chooseFolders(QWidget* parent, const QString& title, const QString& start) override;
    QString openFile(QWidget* parent, const QString& title, const QStringList& types) override;
    std::optional<QFont> chooseFont(QWidget* parent, const QFont& initial) override;
    std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) override;
};

// What the program asks of the desktop after a conversion. Tests replace
// these calls: a test must never shut the machine down.
struct NXSystemActions {
    std::function<void()> shutDown;
    std::function<void(const QString& folder)> openFolder;
    // False when the desktop could not open the file (no handler for it).
    std::function<bool(const QString& file)> openFile;

    // Shut down through the session manager; open through the desktop's handler.
    static NXSystemActions desktop();
};
