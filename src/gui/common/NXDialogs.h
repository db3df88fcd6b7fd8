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
    // Files to add, starting in the folder `start`; the extensions in `types`
    // are the first filter, any file the second. Empty when cancelled.
    virtual QStringList openFiles(
        QWidget* parent, const QString& title, const QStringList& types, const QString& start)
        = 0;
    // A folder; empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
    // One or more folders; empty when cancelled.
    virtual QStringList chooseFolders(QWidget* parent, const QString& title, const QString& start)
        = 0;
    // One file, as openFiles; empty when cancelled.
    virtual QString openFile(
        QWidget* parent, const QString& title, const QStringList& types, const QString& start)
        = 0;
    // Nothing when cancelled.
    virtual std::optional<QFont> chooseFont(QWidget* parent, const QFont& initial) = 0;
    virtual std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) = 0;
};

// The real dialogs.
class NXQtDialogs : public NXDialogs {
public:
    NXAlertAnswer runAlert(QWidget* parent, const NXAlert& alert) override;
    QStringList openFiles(QWidget* parent, const QString& title, const QStringList& types,
        const QString& start) override;
    QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
    QStringList chooseFolders(QWidget* parent, const QString& title, const QString& start) override;
    QString openFile(QWidget* parent, const QString& title, const QStringList& types,
        const QString& start) override;
    std::optional<QFont> chooseFont(QWidget* parent, const QFont& initial) override;
    std::optional<QColor> chooseColor(QWidget* parent, const QColor& initial) override;
};

// Where the file and folder panels start: the folder of the last choice in a
// panel of the same kind, kept across runs, else the kind's own user folder.
enum class NXPanelKind { Videos, Pictures, Music };
QString NXPanelStartFolder(NXPanelKind kind);
// Notes the folder of `chosen` (a file, or a folder chosen as such) as the
// kind's last; nothing for an empty choice.
void NXRememberPanelFolder(NXPanelKind kind, const QString& chosen);

// What the program asks of the desktop after a conversion. Tests replace
// these calls: a test must never shut the machine down.
struct NXSystemActions {
    std::function<void()> shutDown;
    std::function<void(const QString& folder)> openFolder;
    // False when the desktop has no opener to run; an opener that runs and
    // fails is told later, on the main thread.
    std::function<bool(const QString& file)> openFile;

    // Shows a message; the real one is an alert on the active window.
    using Teller = std::function<void(const NXAlert& alert)>;

    // Shut down through the session manager; open through the desktop's
    // handler (xdg-open, see DesktopOpener), and where it is missing or fails
    // to open a file or folder, tell so (`tell`) naming its path and the reason.
    static NXSystemActions desktop(Teller tell = {});
};
