// main() of the GUI test binaries.

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Test discovery runs the binary at build time without the test's
    // environment, and there may be no display at all.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
