// The main() of every test executable: a Qt application object for event
// loops and main-thread delivery, and a private HOME and XDG tree.
#include "platform/DNLogger.h"
#include "support/PrivateHome.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QTemporaryDir root;
    if (!root.isValid())
        return 2;
    pointHomeAt(root.path());
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // The shared log's run lock lies in the private home, which goes first.
    DNLogger::shareRoughLog().close();
    return result;
}
