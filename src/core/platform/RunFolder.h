#pragma once

#include <QString>
#include <QStringList>

// A folder for one run's scratch files (a decoded sound, an edit list, a
// FIFO) in the temporary folder, named `prefix` and six random characters,
// marked as this process's (OwnerMark) and removed with what lies in it when
// the run ends, however it ends. A process killed outright cannot remove it:
// removeAbandoned() takes away the folders of that prefix whose process has
// ended, and only those.
class RunFolder {
public:
    explicit RunFolder(const QString& prefix);
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    // Why the folder could not be made; empty when it was.
    QString error() const { return m_error; }
    // A path for `name` in the folder; empty when there is no folder.
    QString filePath(const QString& name) const;

    // Removes from the temporary folder the folders named `prefix` and six
    // characters that carry the mark of a process of ours that has ended,
    // with the files in them. Returns what it removed.
    static QStringList removeAbandoned(const QString& prefix);

private:
    QString m_path;
    QString m_error;
};
