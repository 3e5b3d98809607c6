// Times the Activity page on a large access log: from the page being shown
// to its list showing the reader's answer, and the longest time the window
// went without handling events meanwhile.
//
// usage: activity-page LOG [DAYS]
//   LOG is a common-log file, for example one written by
//   `accesslog LOG 1 --keep`; the page lists the requests for
//   /section3/page17.html in the last DAYS (default 30) days.

#include "model/Config.h"
#include "model/SiteNode.h"
#include "platform/ConfigStore.h"
#include "props/CNodePropActivity.h"
#include "props/TabbedList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace sylvix;

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: activity-page LOG [DAYS]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::filesystem::path log = std::filesystem::absolute(argv[1]);
    if (!std::filesystem::is_regular_file(log)) {
        std::fprintf(stderr, "activity-page: %s is not a file\n", argv[1]);
        return 2;
    }
    activityDays = argc > 2 ? std::atoi(argv[2]) : 30;

    // A store in a temporary folder naming the log, and a page in its root.
    std::string templ = (std::filesystem::temp_directory_path() / "activity-page-XXXXXX").string();
    const std::string dir = ::mkdtemp(templ.data());
    auto store = OpenSqliteStore(dir + "/registry.db");
    if (!store) {
        std::fprintf(stderr, "activity-page: cannot make a store in %s\n", dir.c_str());
        return 1;
    }
    auto server = store->root()->createKey(kServerKeyPath);
    WriteString(*server, "ServerRoot", dir);
    WriteString(*server->createKey("DocMap"), "/", dir + "/docs/");
    WriteString(*server->createKey("DirIndex"), "IndexDoc", "index.html");
    auto logs = server->createKey("Logs");
    WriteString(*logs, "LogDir", log.parent_path().string());
    WriteString(*logs, "TransferLog", log.filename().string());
    server.reset();
    logs.reset();
    UseStores(std::move(store));

    SiteNode *node = CreateNode();
    node->localPath = SharedStr(dir + "/docs/section3/page17.html");
    node->href = "http://localhost/section3/page17.html";

    int result = 0;
    {
        CNodePropActivity page(node);
        QElapsedTimer clock, tick;
        qint64 longestStall = 0;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longestStall = std::max(longestStall, tick.restart()); });
        QObject::connect(&page, &CNodePropActivity::refilled, [&] {
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            std::printf("log %.0f MB: %d lines shown after %.3f s; longest stall of the window "
                        "%lld ms (timer every 5 ms)\n",
                        double(std::filesystem::file_size(log)) / (1024 * 1024),
                        page.list()->count(), seconds, static_cast<long long>(longestStall));
            app.quit();
        });
        QTimer::singleShot(0, [&] {
            clock.start();
            tick.start();
            ticker.start();
            page.show();
        });
        QTimer::singleShot(120000, [&] {
            std::fprintf(stderr, "activity-page: no answer in 120 s\n");
            result = 1;
            app.quit();
        });
        app.exec();
    }
    FreeNode(node);
    CloseConfiguration();
    std::filesystem::remove_all(dir);
    return result;
}
