#include "common/NXDialogs.h"

#include "common/DesktopOpener.h"
#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTreeView>

NXAlertAnswer NXQtDialogs::runAlert(QWidget* parent, const NXAlert& alert)
{
    QMessageBox box(parent);
    box.setWindowModality(Qt::WindowModal);
    box.setIcon(QMessageBox::Warning);
    box.setText(alert.title);
    box.setInformativeText(alert.text);
    std::vector<QAbstractButton*> buttons;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.push_back(box.addButton(alert.buttons.at(i), role));
    }
    if (!buttons.empty())
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));
    auto* suppression
        = alert.suppressionText.isEmpty() ? nullptr : new QCheckBox(alert.suppressionText);
    if (suppression)
        box.setCheckBox(suppression);
    box.exec();
    NXAlertAnswer answer;
    const auto pressed = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    answer.button
        = pressed == buttons.end() ? int(buttons.size()) - 1 : int(pressed - buttons.begin());
    answer.suppressed = suppression && suppression->isChecked();
    return answer;
}

namespace {

// "Title (*.a *.b)" first, then any file; any file alone when there are no
// types.
QString filterOf(const QString& title, const QStringList& types)
{
    const QString anyFile = QStringLiteral("All Files (*)");
    QStringList patterns;
    for (const QString& type : types)
        patterns << QStringLiteral("*.") + type;
    return patterns.isEmpty()
        ? anyFile
        : QStringLiteral("%1 (%2);;%3").arg(title, patterns.join(QLatin1Char(' ')), anyFile);
}

QString panelKey(NXPanelKind kind)
{
    return QStringLiteral("NXPanelFolder_%1").arg(int(kind));
}

} // namespace

QString NXPanelStartFolder(NXPanelKind kind)
{
    const QString last = UserDefaults::standard().value(panelKey(kind)).toString();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    switch (kind) {
    case NXPanelKind::Pictures:
        return AppPaths::picturesFolder();
    case NXPanelKind::Music:
        return AppPaths::musicFolder();
    case NXPanelKind::Videos:
        break;
    }
    return AppPaths::moviesFolder();
}

void NXRememberPanelFolder(NXPanelKind kind, const QString& chosen)
{
    if (chosen.isEmpty())
        return;
    const QFileInfo info(chosen);
    UserDefaults::standard().setValue(
        panelKey(kind), info.isDir() ? info.absoluteFilePath() : info.absolutePath());
}

QStringList NXQtDialogs::openFiles(
    QWidget* parent, const QString& title, const QStringList& types, const QString& start)
{
    return QFileDialog::getOpenFileNames(parent, title, start, filterOf(title, types));
}

QString NXQtDialogs::chooseFolder(QWidget* parent, const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, title, start);
}

// The platform's folder dialog takes one folder: Qt's own, with its views
// taking several.
QStringList NXQtDialogs::chooseFolders(QWidget* parent, const QString& title, const QString& start)
{
    QFileDialog dialog(parent, title, start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    for (auto* view : dialog.findChildren<QAbstractItemView*>())
        if (qobject_cast<QListView*>(view) || qobject_cast<QTreeView*>(view))
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

QString NXQtDialogs::openFile(
    QWidget* parent, const QString& title, const QStringList& types, const QString& start)
{
    return QFileDialog::getOpenFileName(parent, title, start, filterOf(title, types));
}

std::optional<QFont> NXQtDialogs::chooseFont(QWidget* parent, const QFont& initial)
{
    bool chosen = false;
    const QFont font = QFontDialog::getFont(&chosen, initial, parent);
    return chosen ? std::optional<QFont>(font) : std::nullopt;
}

std::optional<QColor> NXQtDialogs::chooseColor(QWidget* parent, const QColor& initial)
{
    const QColor colour = QColorDialog::getColor(initial, parent);
    return colour.isValid() ? std::optional<QColor>(colour) : std::nullopt;
}

namespace {

// What a person reads where no program opens a file or folder: without the
// desktop's opener (xdg-open) nothing on the screen would change.
NXAlert cannotOpen(const QString& path)
{
    return { QStringLiteral("Could not open \"%1\".").arg(path),
        QStringLiteral("The desktop has no program to open it with (Quillon asks xdg-open, of "
                       "the xdg-utils package). It is still there to open by hand."),
        { QStringLiteral("OK") }, {} };
}

// Where xdg-open ran and gave up, what it said is the reason.
NXAlert openFailed(const QString& path, const QString& reason)
{
    return { QStringLiteral("Could not open \"%1\".").arg(path),
        reason + QStringLiteral(". It is still there to open by hand."), { QStringLiteral("OK") },
        {} };
}

} // namespace

NXSystemActions NXSystemActions::desktop(Teller tell)
{
    if (!tell)
        tell = [](const NXAlert& alert) {
            NXQtDialogs().runAlert(QApplication::activeWindow(), alert);
        };
    const auto opener = std::make_shared<DesktopOpener>(
        [tell](const QString& path, const QString& reason) { tell(openFailed(path, reason)); });
    const auto open = [tell, opener](const QString& path) {
        if (opener->open(path))
            return true;
        DNLog(QStringLiteral("The desktop could not open %1: there is no xdg-open").arg(path));
        tell(cannotOpen(path));
        return false;
    };
    NXSystemActions actions;
    actions.shutDown = [] {
        DNLog(QStringLiteral("Shutting the computer down after the conversion"));
        if (!QProcess::startDetached(QStringLiteral("systemctl"), { QStringLiteral("poweroff") }))
            DNLog(QStringLiteral("Could not ask the system to shut down"));
    };
    actions.openFolder = [open](const QString& folder) { open(folder); };
    actions.openFile = open;
    return actions;
}
