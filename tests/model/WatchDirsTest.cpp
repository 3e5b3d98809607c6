#include "ModelFixture.h"

#include "model/WatchDirs.h"

#include <algorithm>

using namespace sylvix;
using namespace sylvix::test;

namespace {

class WatchDirs : public ServerFixture
{
protected:
    std::vector<std::string> sorted()
    {
        std::vector<std::string> dirs = DirectoriesToWatch();
        std::sort(dirs.begin(), dirs.end());
        return dirs;
    }
};

} // namespace

TEST_F(WatchDirs, EveryDocMapValueGivesOneDirectory)
{
    const std::string root = m_dir / "docs";
    const std::string server = m_dir / "srv";
    docMap("/icons/", "icons\\small");      // below the absolute document root
    docMap("/cgi-bin/", "C:\\Server\\cgi"); // a drive path is absolute
    docMap("/abs/", "/var/www/abs/../other");
    std::vector<std::string> expect
        = {"/var/www/other", "C:/Server/cgi", root, root + "/icons/small"};
    std::sort(expect.begin(), expect.end());
    EXPECT_EQ(sorted(), expect);

    // A relative document root goes below the server root, and so do the
    // values below it; the root itself too.
    docMap("/", "htdocs");
    expect
        = {"/var/www/other", "C:/Server/cgi", server + "/htdocs", server + "/htdocs/icons/small"};
    std::sort(expect.begin(), expect.end());
    EXPECT_EQ(sorted(), expect);

    // Without a server root, relative values stand as they are.
    ASSERT_TRUE(m_server->deleteValue("ServerRoot"));
    expect = {"/var/www/other", "C:/Server/cgi", "htdocs", "icons/small"};
    std::sort(expect.begin(), expect.end());
    EXPECT_EQ(sorted(), expect);
}

TEST_F(WatchDirs, MissingKeyTooLongValuesAndTheCap)
{
    docMap("/long/", std::string(kMaxDocMapText + 1, 'x'));
    // The long value ends the list; "/" comes before it.
    EXPECT_EQ(DirectoriesToWatch(), std::vector<std::string>{m_dir / "docs"});

    ASSERT_TRUE(m_server->deleteTree("DocMap"));
    EXPECT_TRUE(DirectoriesToWatch().empty());

    for (size_t i = 0; i < kMaxWatchedDirectories + 5; ++i)
        docMap("/d" + std::to_string(i) + "/", "/w/" + std::to_string(i));
    EXPECT_EQ(DirectoriesToWatch().size(), kMaxWatchedDirectories);
}
