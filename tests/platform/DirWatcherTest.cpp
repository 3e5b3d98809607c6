#include "platform/DirWatcher.h"

#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>

namespace sylvix {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

size_t openDescriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto &e : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

// Collects the directories the watcher reports, for a test to wait on.
struct Reports
{
    std::mutex mutex;
    std::set<std::string> dirs;

    DirWatcher::Callback callback()
    {
        return [this](const DirWatcher::Changes &c) {
            std::lock_guard lock(mutex);
            dirs.insert(c.dirs.begin(), c.dirs.end());
        };
    }
    // Waits (generously: the machine may be loaded) until dir was reported.
    bool waitFor(const std::string &dir)
    {
        return test::eventually([&] {
            std::lock_guard lock(mutex);
            return dirs.count(dir) > 0;
        });
    }
};

void touch(const std::string &path)
{
    std::ofstream(path) << "x";
}

TEST(DirWatcher, FollowsTheTreeAsItChanges)
{
    TempDir tmp;
    const std::string root = tmp.file("site");
    fs::create_directories(root + "/old");
    Reports reports;
    DirWatcher w;
    ASSERT_TRUE(w.start({root}, reports.callback())) << w.error();
    EXPECT_EQ(w.watched(), (std::vector<std::string>{root, root + "/old"}));

    // Nested directories made at once are all watched.
    fs::create_directories(root + "/a/b/c");
    ASSERT_TRUE(reports.waitFor(root + "/a"));
    touch(root + "/a/b/c/page.html");
    EXPECT_TRUE(reports.waitFor(root + "/a/b/c"));

    // A renamed directory is watched under its new name only.
    fs::rename(root + "/a/b", root + "/a/x");
    EXPECT_TRUE(test::eventually([&] {
        return w.watched()
               == std::vector<std::string>{root, root + "/a", root + "/a/x", root + "/a/x/c",
                                           root + "/old"};
    }));

    // Deleted directories are dropped.
    fs::remove_all(root + "/a");
    EXPECT_TRUE(test::eventually([&] { return w.watched().size() == 2; }));
    EXPECT_TRUE(reports.waitFor(root));
}

TEST(DirWatcher, FailsClearlyAndLeavesNoDescriptor)
{
    TempDir tmp;
    for (const char *d : {"t/1", "t/2", "t/3"})
        fs::create_directories(tmp.file(d));
    const size_t before = openDescriptors();
    {
        DirWatcher w;
        DirWatcher::Options small;
        small.maxWatches = 2;
        EXPECT_FALSE(w.start({tmp.file("t")}, nullptr, small));
        EXPECT_NE(w.error().find("limit of directory watches"), std::string::npos) << w.error();
        EXPECT_EQ(openDescriptors(), before);

        Reports reports;
        ASSERT_TRUE(w.start({tmp.file("t")}, reports.callback()));
        EXPECT_GT(openDescriptors(), before);
        w.stop();
        EXPECT_EQ(openDescriptors(), before);
        EXPECT_TRUE(w.watched().empty());
        ASSERT_TRUE(w.start({tmp.file("t")}, reports.callback())); // and again
    }
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
} // namespace sylvix
