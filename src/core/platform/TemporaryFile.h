#pragma once

#include <QString>
#include <QStringList>

// Makes a new, empty file in AppPaths::temporaryFolder() named `prefix`, six
// random characters and, when `extension` is given, "." and the extension
// ("qzsub" and "srt" give e.g. "qzsubA1b2C3.srt"). The name is chosen and the
// file created in one step, so no other process can take the name between the
// two. Returns the path, or an empty string (the reason is logged).
QString makeTemporaryFile(const QString& prefix, const QString& extension = {});

// Collects the temporary files that makeTemporaryFile() makes on this thread
// while the scope lives, and removes them when it ends: the scratch files of
// one engine run (subtitle copies, join lists, watermark pictures) go with
// the run. Scopes nest; a file belongs to the innermost one.
class TemporaryFileScope {
public:
    TemporaryFileScope();
    ~TemporaryFileScope();
    TemporaryFileScope(const TemporaryFileScope&) = delete;
    TemporaryFileScope& operator=(const TemporaryFileScope&) = delete;

private:
    friend QString makeTemporaryFile(const QString&, const QString&);
    TemporaryFileScope* const m_outer;
    QStringList m_files;
};
