// The main() of the interface tests: a widgets application (the windows need
// one) and, as for every other test, a private HOME and XDG tree.
#include <QApplication>
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
