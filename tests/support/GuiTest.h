#pragma once

// Helpers of the GUI tests: answering modal dialogs, which would otherwise
// block in exec(), and finding controls by their object names.

#include <QDialog>

#include <gtest/gtest.h>

#include <functional>

namespace sylvix::test {

// Runs act on the next modal dialog as soon as it is up; act should close
// it. Gives up after 20 s so that a dialog that never comes ends the test
// with a failed check instead of a hang.
void onNextDialog(std::function<void(QDialog *)> act);

// The same for a dialog of class D; a different dialog is a failure.
template<class D>
void onNext(std::function<void(D *)> act)
{
    onNextDialog([act](QDialog *d) {
        D *wanted = qobject_cast<D *>(d);
        EXPECT_TRUE(wanted) << "another dialog came up: " << d->metaObject()->className();
        wanted ? act(wanted) : d->reject();
    });
}

// The child of parent named name; a missing one is a failure.
template<class W = QWidget>
W *child(const QObject *parent, const char *name)
{
    W *w = parent->findChild<W *>(QString::fromUtf8(name));
    EXPECT_TRUE(w) << name;
    return w;
}

} // namespace sylvix::test
