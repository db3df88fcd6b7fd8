#pragma once

#include "common/NXDialogs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <vector>

// Answers the windows' questions in place of a person and keeps what was asked.
class ScriptedDialogs : public NXDialogs {
public:
    NXAlertAnswer runAlert(QWidget*, const NXAlert& alert) override
    {
        alerts.push_back(alert);
        return nextAnswer;
    }
    QStringList openFiles(
        QWidget*, const QString&, const QStringList& types, const QString& start) override
    {
        askedTypes = types;
        askedStart = start;
        return filesToOpen;
    }
    QString chooseFolder(QWidget*, const QString&, const QString& start) override
    {
        askedStart = start;
        return folder;
    }
    QStringList chooseFolders(QWidget*, const QString&, const QString& start) override
    {
        askedStart = start;
        return folders;
    }
    QString openFile(
        QWidget*, const QString&, const QStringList& types, const QString& start) override
    {
        askedTypes = types;
        askedStart = start;
        return fileToOpen;
    }
    std::optional<QFont> chooseFont(QWidget*, const QFont&) override { return font; }
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override { return colour; }

    QStringList alertTitles() const
    {
        QStringList titles;
        for (const auto& alert : alerts)
            titles << alert.title;
        return titles;
    }

    std::vector<NXAlert> alerts;
    NXAlertAnswer nextAnswer;
    QStringList filesToOpen;
    QString folder;
    QStringList folders;
    QString fileToOpen;
    QStringList askedTypes;
    QString askedStart; // the folder the last panel started in
    std::optional<QFont> font;
    std::optional<QColor> colour;
};

// System calls that only count: a test never shuts the machine down.
struct RecordingSystem {
    int shutDowns = 0;
    QStringList openedFolders;
    QStringList openedFiles;
    bool desktopOpensFiles = true;
    NXSystemActions actions()
    {
        NXSystemActions system;
        system.shutDown = [this] { ++shutDowns; };
        system.openFolder = [this](const QString& folder) { openedFolders << folder; };
        system.openFile = [this](const QString& file) {
            openedFiles << file;
            return desktopOpensFiles;
        };
        return system;
    }
};

// A bound for waits on what must happen: only a hang reaches it, however loaded the machine.
inline constexpr int kHangMs = 180'000;

// Runs the event loop until `done` holds or the time is up. Without a bound it waits on what
// must happen, so only a hang reaches it.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = kHangMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
