#include "dialogs/HelpWindow.h"

#include "resources/CommandTable.h"
#include "resources/Icons.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTextBrowser>

#include <gtest/gtest.h>

using namespace sylvix;

namespace {

QString ReadResource(const QUrl &url)
{
    QFile file(QLatin1Char(':') + url.path());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Empty when url names an existing page (and anchor), else what is wrong.
std::string CheckTarget(const QUrl &url)
{
    if (url.scheme() != QLatin1String("qrc"))
        return "not a help resource: " + url.toString().toStdString();
    const QString text = ReadResource(url);
    if (text.isEmpty())
        return "no such page: " + url.toString().toStdString();
    if (url.hasFragment() && !text.contains(QStringLiteral("<a name=\"%1\">").arg(url.fragment())))
        return "no such anchor: " + url.toString().toStdString();
    return {};
}

} // namespace

TEST(Help, EveryKeywordFindsItsPage)
{
    std::vector<QString> keywords = {QStringLiteral("Examining document properties")};
    for (const HelpTopic &t : HelpTopics())
        keywords.push_back(QLatin1String(t.keyword));
    for (const Command &c : Commands()) {
        for (bool inView : {false, true}) {
            if (const char *k = HelpKeyword(c.id, inView))
                keywords.push_back(QLatin1String(k));
        }
    }
    const QUrl index = HelpPageFor(QStringLiteral("index"));
    for (const QString &k : keywords) {
        const QUrl page = HelpPageFor(k);
        EXPECT_EQ(CheckTarget(page), "") << k.toStdString();
        if (k.compare(QLatin1String("index"), Qt::CaseInsensitive) != 0) {
            EXPECT_NE(page, index) << k.toStdString() << " falls back to the index";
        }
    }
    EXPECT_EQ(HelpPageFor(QStringLiteral("KEYBOARD")), HelpPageFor(QStringLiteral("keys")));
    EXPECT_EQ(HelpPageFor(QStringLiteral("no such topic")), index);
    EXPECT_EQ(CheckTarget(index), "");
}

TEST(Help, LinksAndPicturesBetweenPagesResolve)
{
    InitResources();
    QStringList pages;
    for (QDirIterator it(QStringLiteral(":/help")); it.hasNext();)
        pages << it.next();
    EXPECT_GE(pages.size(), 8);
    const QRegularExpression ref(QStringLiteral("(href|src)=\"([^\"]+)\""));
    int pictures = 0;
    for (const QString &path : pages) {
        const QUrl base(QStringLiteral("qrc") + path);
        const QString text = ReadResource(base);
        ASSERT_FALSE(text.isEmpty()) << path.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("<title>"))) << path.toStdString();
        for (const auto &m : ref.globalMatch(text)) {
            const QUrl target = base.resolved(QUrl(m.captured(2)));
            EXPECT_EQ(CheckTarget(target), "") << "in " << path.toStdString();
            if (m.captured(1) == QLatin1String("src")) {
                ++pictures;
                // The browser decodes pictures through the SVG image plugin.
                QTextBrowser browser;
                browser.setSource(base);
                const QByteArray data
                    = browser.loadResource(QTextDocument::ImageResource, target).toByteArray();
                EXPECT_FALSE(QImage::fromData(data).isNull()) << target.toString().toStdString();
            }
        }
    }
    EXPECT_GE(pictures, 20 + 6 + 2 + 13) << "the icons page shows every icon";
}

TEST(Help, OneWindowFollowsTheKeywords)
{
    ShowHelp(QStringLiteral("contents"));
    HelpWindow *window = HelpWindow::instance();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("Sylvix Help")));
    ShowHelp(QStringLiteral("Keyboard"));
    EXPECT_EQ(HelpWindow::instance(), window);
    EXPECT_EQ(window->source(), HelpPageFor(QStringLiteral("keyboard")));
    EXPECT_TRUE(window->windowTitle().contains(QStringLiteral("Keys")));
    window->close(); // deleted on close; the next call opens a new one
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(HelpWindow::instance(), nullptr);
}
