// Times Find Node over a whole site as the window runs it: the dialog filled
// in and Find pressed, the walk examining and parsing every page it meets
// with the progress window up, until "No match in the rest of your web.".
//
// usage: findnode [URL] [TEXT] [PICTURES_DIR]
//   The configuration comes from the store in $NORVANE_REGISTRY; without a
//   URL (or with "") the tree starts at the server's home page. TEXT
//   (default, also for "": a title no page has) is looked for in the
//   titles. With PICTURES_DIR, the dialog and the progress window are saved
//   there as find-dialog.png and find-progress.png. Runs headless.

#include "app/ListtestApp.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "dialogs/CFindNodeDlg.h"
#include "dialogs/CFindProgressDlg.h"
#include "model/SiteNode.h"
#include "tree/ListtestView.h"
#include "tree/TreeListBox.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <vector>

using namespace sylvix;

namespace {

// Nodes in the tree, those examined, and the pages among them parsed (not
// mirrored).
void count(SiteNode *node, size_t &nodes, size_t &loaded, size_t &parsed)
{
    std::vector<SiteNode *> stack{node};
    while (!stack.empty()) {
        SiteNode *n = stack.back();
        stack.pop_back();
        ++nodes;
        loaded += n->loaded() ? 1 : 0;
        parsed
            += n->loaded() && !n->equivalent && n->kind == Html && !(n->flags & (BROKEN | NOTVER))
                   ? 1
                   : 0;
        // Mirrors' copies are not made by asking here.
        if (!n->equivalent)
            for (SiteNode *c = n->firstChild(); c; c = c->nextSibling())
                stack.push_back(c);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const QString text = argc > 2 && argv[2][0] ? QString::fromLocal8Bit(argv[2])
                                                : QStringLiteral("no page has this title");
    std::vector<const char *> args{"sylvix"};
    if (argc > 1 && argv[1][0])
        args.push_back(argv[1]);
    CListtestApp app;
    if (!app.InitInstance(int(args.size()), args.data(),
                          [](CListtestDoc *doc) { return new CListtestView(doc); }))
        return 1;
    MessageBox::setAutoAnswer(QMessageBox::Ok);
    CMainFrame *frame = app.frame();
    auto *view = dynamic_cast<CListtestView *>(frame->activeView());
    if (!view || !view->root()) {
        std::fprintf(stderr, "findnode: no tree window\n");
        return 1;
    }

    const QString pictures = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    QTimer::singleShot(0, [&text, &pictures] {
        auto *dlg = qobject_cast<CFindNodeDlg *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        dlg->findChild<QLineEdit *>(QStringLiteral("textEdit"))->setText(text);
        dlg->findChild<QRadioButton *>(QStringLiteral("titleRadio"))->click();
        if (!pictures.isEmpty())
            dlg->grab().save(pictures + QStringLiteral("/find-dialog.png"));
        auto *findButton = dlg->findChild<QPushButton *>(QStringLiteral("findButton"));
        if (findButton->isEnabled())
            findButton->click();
        else
            dlg->reject();
    });
    // Fires inside the walk's event dispatch, while the window is up.
    if (!pictures.isEmpty())
        QTimer::singleShot(300, [&pictures] {
            if (CFindProgressDlg *progress = CFindProgressDlg::current())
                progress->grab().save(pictures + QStringLiteral("/find-progress.png"));
        });
    frame->UpdateCommands();
    QAction *find = frame->findChild<QAction *>(QStringLiteral("actionSearchFindNode"));
    const auto t0 = std::chrono::steady_clock::now();
    find->trigger();
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    size_t nodes = 0, loaded = 0, parsed = 0;
    count(view->root(), nodes, loaded, parsed);
    const auto &box = MessageBox::last();
    const CTreeRow *selected = view->treeList()->SelectedRow();
    std::printf("find in titles: %.2f s, %zu nodes (%zu examined, %zu pages parsed), outcome: %s\n",
                seconds, nodes, loaded, parsed,
                box ? box->text.toUtf8().constData()
                    : (selected ? "a match was selected" : "nothing shown"));
    return 0;
}
