#include "common/NXDialogs.h"

#include "platform/DNLogger.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontDialog>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>

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

// "Title (*.a *.b)"; no filter when there are no types.
QString filterOf(const QString& title, const QStringList& types)
{
    QStringList patterns;
    for (const QString& type : types)
        patterns << QStringLiteral("*.") + type;
    return patterns.isEmpty()
        ? QString()
        : QStringLiteral("%1 (%2)").arg(title, patterns.join(QLatin1Char(' ')));
}

} // namespace

QStringList NXQtDialogs::openFiles(QWidget* parent, const QString& title, const QStringList& types)
{
    return QFileDialog::getOpenFileNames(parent, title, QString(), filterOf(title, types));
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

QString NXQtDialogs::openFile(QWidget* parent, const QString& title, const QStringList& types)
{
    return QFileDialog::getOpenFileName(parent, title, QString(), filterOf(title, types));
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

NXSystemActions NXSystemActions::desktop()
{
    NXSystemActions actions;
    actions.shutDown = [] {
        DNLog(QStringLiteral("Shutting the computer down after the conversion"));
        if (!QProcess::startDetached(QStringLiteral("systemctl"), { QStringLiteral("poweroff") }))
            DNLog(QStringLiteral("Could not ask the system to shut down"));
    };
    actions.openFolder
        = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    actions.openFile
        = [](const QString& file) { return QDesktopServices::openUrl(QUrl::fromLocalFile(file)); };
    return actions;
}
