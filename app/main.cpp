// sylvix: the windowed site-map viewer.

#include "app/ListtestApp.h"
#include "tree/ListtestView.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication qapp(argc, argv);
    sylvix::CListtestApp app;
    if (!app.InitInstance(argc, argv,
                          [](sylvix::CListtestDoc *doc) { return new sylvix::CListtestView(doc); }))
        return 0;
    return qapp.exec();
}
