// The main() of the interface tests: a widgets application (the windows need
// one) and, as for every other test, a private HOME and XDG tree.
#include "platform/DNLogger.h"
#include "support/PrivateHome.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

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
    const int result = RUN_ALL_TESTS();
    // The shared log's run lock lies in the private home, which goes first.
    DNLogger::shareRoughLog().close();
    return result;
}
