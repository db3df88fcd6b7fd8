// The main() of every test executable: a Qt application object for event
// loops and main-thread delivery, and a private HOME and XDG tree so that no
// test reads or writes the real user's settings, data or log.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void pointHomeAt(const QString& root)
{
    const auto set = [&](const char* name, const QString& sub) {
        const QString path = root + sub;
        QDir().mkpath(path);
        ::setenv(name, path.toUtf8().constData(), 1);
    };
    set("HOME", "/home");
    set("XDG_CONFIG_HOME", "/home/.config");
    set("XDG_DATA_HOME", "/home/.local/share");
    set("XDG_CACHE_HOME", "/home/.cache");
    set("XDG_RUNTIME_DIR", "/runtime");
    set("TMPDIR", "/tmp");
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir root;
    if (!root.isValid())
        return 2;
    pointHomeAt(root.path());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
