#include "resources/Icons.h"

#include "model/SiteNode.h"

#include <QFile>
#include <QHash>
#include <QString>

#include <array>
#include <mutex>

// Q_INIT_RESOURCE declares a function and must stand outside any namespace.
static void InitSylvixResources()
{
    Q_INIT_RESOURCE(icons);
    Q_INIT_RESOURCE(help);
}

namespace sylvix {

void InitResources()
{
    static std::once_flag once;
    std::call_once(once, InitSylvixResources);
}

const QIcon &Icon(const char *name)
{
    InitResources();
    // Only the user-interface thread draws, so the cache needs no lock.
    static QHash<QByteArray, QIcon> cache;
    const QByteArray key(name);
    auto it = cache.find(key);
    if (it == cache.end()) {
        const QString path = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(key));
        it = cache.insert(key, QFile::exists(path) ? QIcon(path) : QIcon());
    }
    return *it;
}

const QCursor &DragCursor(bool canDrop)
{
    static const QCursor drop(Icon("DROP_CURSOR").pixmap(32, 32), 15, 15);
    static const QCursor noDrop(Icon("NODROP_CURSOR").pixmap(32, 32), 15, 15);
    return canDrop ? drop : noDrop;
}

const char *KindIconName(uint32_t kind)
{
    static constexpr std::array<const char *, 20> names = {
        "HTML_ICON",     "GIF_ICON",       "CGI_ICON",       "AUDIO_ICON",  "VIDEO_ICON",
        "UNKNOWN_ICON",  "TEXT_ICON",      "MAILTO_ICON",    "TELNET_ICON", "SR_ICON",
        "IMAGEMAP_ICON", "STATS_ICON",     "ZEROSTATS_ICON", "CYCLEA_ICON", "CYCLEE_ICON",
        "CYCLEAE_ICON",  "DIRECTORY_ICON", "FTP_ICON",       "GOPHER_ICON", "NEWS_ICON",
    };
    return kind < names.size() ? names[kind] : "UNKNOWN_ICON";
}

QIcon KindIcon(uint32_t kind)
{
    return Icon(KindIconName(kind));
}

std::vector<const char *> StateIconNames(uint32_t flags)
{
    std::vector<const char *> names;
    if (flags & EXTERNAL)
        names.push_back("EXTERNAL_ICON");
    if (flags & VIRTUAL)
        names.push_back("VIRTUAL_ICON");
    if (flags & ISMAP)
        names.push_back("ISMAP_ICON");
    if (flags & NOTVER)
        names.push_back("NOTVER_ICON");
    else if (flags & BROKEN)
        names.push_back("BROKEN_ICON");
    if (flags & INLINED)
        names.push_back("INLINED_ICON");
    return names;
}

} // namespace sylvix
