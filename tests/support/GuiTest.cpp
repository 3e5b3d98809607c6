#include "tests/support/GuiTest.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

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
