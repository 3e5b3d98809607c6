// main() of the GUI test binaries, and the helpers of GuiTest.h.

#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QTimer>

namespace sylvix::test {

void onNextDialog(std::function<void(QDialog *)> act)
{
    auto *timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, act] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog && ++*tries < 2000)
            return;
        timer->stop();
        timer->deleteLater();
        if (dialog)
            act(dialog);
        else
            ADD_FAILURE() << "no modal dialog came up";
    });
    timer->start(10);
}

} // namespace sylvix::test

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
