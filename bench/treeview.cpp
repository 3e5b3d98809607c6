// Times the tree window itself, headless: opening a row with many HTML
// children through the view (rows, drawing and all), and a list of many
// visible rows scrolled from top to bottom one page at a time.
//
// usage: treeview NEW_DIR [CHILDREN] [ROWS]
//   (CHILDREN defaults to 5000, ROWS to 100000). Writes the pages and a
//   configuration store under NEW_DIR and removes it afterwards.

#include "app/ListtestApp.h"
#include "app/MainFrame.h"
#include "app/MessageBox.h"
#include "cli/RegFile.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "platform/ConfigStore.h"
#include "resources/CommandTable.h"
#include "tree/ListtestView.h"
#include "tree/TreeListBox.h"
#include "tree/TreeRow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace sylvix;
namespace fs = std::filesystem;

namespace {

// A plain page of about 4 KB with a handful of links out.
std::string childPage(int i)
{
    std::string s = "<html><head><title>Child " + std::to_string(i) + "</title></head><body>\n";
    for (int p = 0; p < 30; ++p)
        s += "<p>Text " + std::to_string(p) + " of child " + std::to_string(i)
             + (p % 6 == 0 ? " <a href=\"../x" + std::to_string(p) + ".html\">on</a>" : "")
             + ".</p>\n";
    return s + "</body></html>\n";
}

bool writeSite(const fs::path &dir, int children)
{
    fs::create_directories(dir / "docs");
    std::ofstream index(dir / "docs/index.html");
    index << "<html><body>\n";
    for (int i = 0; i < children; ++i) {
        const std::string name = "c" + std::to_string(i) + ".html";
        std::ofstream(dir / "docs" / name) << childPage(i);
        index << "<a href=\"" << name << "\">" << name << "</a>\n";
    }
    index << "</body></html>\n";
    const std::string reg = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + std::string(kProgramKeyPath)
                            + "]\n\n[HKEY_LOCAL_MACHINE\\" + std::string(kServerKeyPath)
                            + "]\n\"ServerName\"=\"bench.example\"\n\"TCP Port\"=dword:00000050\n\n"
                              "[HKEY_LOCAL_MACHINE\\"
                            + std::string(kServerKeyPath) + "\\DocMap]\n\"/\"=\""
                            + (dir / "docs").string() + "\"\n\n[HKEY_LOCAL_MACHINE\\"
                            + std::string(kServerKeyPath) + "\\TypeMap]\n\".html\"=\"text/html\"\n";
    auto store = OpenSqliteStore((dir / "registry.db").string());
    std::string error;
    if (!store || !ImportRegText(*store, reg, "bench.reg", error)) {
        std::fprintf(stderr, "treeview: cannot make a store: %s\n", error.c_str());
        return false;
    }
    UseStores(std::move(store));
    return true;
}

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || fs::exists(argv[1])) {
        std::fprintf(stderr, "usage: treeview NEW_DIR [CHILDREN] [ROWS]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is known
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const fs::path dir = argv[1];
    const int children = argc > 2 ? std::atoi(argv[2]) : 5000;
    const int rows = argc > 3 ? std::atoi(argv[3]) : 100000;
    int qargc = 1;
    QApplication qapp(qargc, argv);
    if (!writeSite(dir, children))
        return 1;

    // Nothing may wait for an answer here.
    MessageBox::setAutoAnswer(QMessageBox::No);
    verifyExternal = false;
    CListtestApp app;
    const char *args[] = {"treeview", "http://bench.example/index.html"};
    if (!app.InitInstance(2, args, [](CListtestDoc *doc) { return new CListtestView(doc); }))
        return 1;
    app.frame()->resize(1024, 768);
    if (QMdiSubWindow *window = app.frame()->mdiArea()->activeSubWindow())
        window->showMaximized();
    QCoreApplication::processEvents();
    auto *view = dynamic_cast<CListtestView *>(app.frame()->activeView());
    CTreeListBox *list = view ? view->treeList() : nullptr;
    if (!list)
        return 1;

    QElapsedTimer t;
    t.start();
    const std::clock_t cpu0 = std::clock(); // the machine may be shared: CPU time beside
    view->OnCommand(ID_TREE_EXPAND);
    list->viewport()->repaint();
    std::printf("opening a row of %d HTML children in the window: %.0f ms, CPU %.0f ms (%d rows)\n",
                children, ms(t), 1000.0 * double(std::clock() - cpu0) / CLOCKS_PER_SEC,
                list->RowCount());
    view->OnCommand(ID_TREE_COLLAPSE);

    // Many visible rows: nodes made in memory, their rows put in one block.
    SiteNode *parent = CreateNode();
    std::vector<CTreeRow *> made;
    made.reserve(size_t(rows));
    for (int i = 0; i < rows; ++i) {
        SiteNode *child = CreateNode();
        child->href = SharedStr("row-" + std::to_string(i) + ".html");
        AppendChild(parent, child);
    }
    t.restart();
    int i = 0;
    for (SiteNode *c = parent->firstChild(); c; c = c->nextSibling(), ++i)
        made.push_back(view->CreateRow(1, c->nextSibling() ? 1 : 2, 0, c));
    list->InsertRowsAfter(0, made);
    std::printf("%d rows made and inserted in one block: %.0f ms\n", rows, ms(t));
    // The list lays its rows out when it next gets to it.
    QCoreApplication::processEvents();
    list->doItemsLayout();

    QScrollBar *bar = list->verticalScrollBar();
    const int page = std::max(1, bar->pageStep());
    int pages = 0;
    t.restart();
    for (int value = 0; value <= bar->maximum(); value += page, ++pages) {
        bar->setValue(value);
        list->viewport()->repaint();
    }
    const double scrolled = ms(t);
    std::printf("%d rows scrolled end to end: %d pages of %d rows (%d x %d pixels), %.0f ms, "
                "%.2f ms per page\n",
                list->RowCount(), pages, page, list->viewport()->width(),
                list->viewport()->height(), scrolled, scrolled / std::max(1, pages));

    t.restart();
    list->RemoveRows(1, rows);
    FreeNode(parent);
    std::printf("%d rows removed and their nodes freed: %.0f ms\n", rows, ms(t));

    app.frame()->close();
    CloseConfiguration();
    fs::remove_all(dir);
    return 0;
}
