#include "props/CNodePropAccess.h"
#include "props/CNodeProperties.h"
#include "props/PropertyRules.h"

#include "app/AppState.h"
#include "app/MessageBox.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "props/access/AccessStore.h"
#include "tests/app/DemoStore.h"
#include "tests/support/GuiTest.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace sylvix {
namespace {

using Names = std::vector<std::string>;

// The rows of a list or a combo box.
template<class W>
Names Texts(const W *widget)
{
    Names texts;
    for (int row = 0; row < widget->model()->rowCount(); ++row)
        texts.push_back(widget->model()->index(row, 0).data().toString().toStdString());
    return texts;
}

// The demo server's store as the configuration in use, a page for a node
// with the given directory hosted in a dialog of its own.
class AccessPageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        demo.use();
        ASSERT_EQ(OpenConfiguration(nullptr), OpenConfigResult::Ok);
        ASSERT_TRUE(ServerKey && ServerStore());
        access = std::make_unique<AccessStore>(*ServerStore(), *ServerKey);
    }

    CNodePropAccess *open(const char *dir)
    {
        node->dir = SharedStr(dir);
        host = std::make_unique<QDialog>();
        auto *layout = new QVBoxLayout(host.get());
        page = new CNodePropAccess(node.get(), host.get());
        layout->addWidget(page);
        wrote = std::make_unique<QSignalSpy>(page, &CNodePropAccess::wroteStore);
        host->resize(460, 520);
        host->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(host.get()));
        return page;
    }

    template<typename T>
    T *find(const char *name)
    {
        return test::child<T>(host.get(), name);
    }
    QListWidget *list(const char *name) { return find<QListWidget>(name); }
    QPushButton *button(const char *name) { return find<QPushButton>(name); }
    void click(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    // A click on a list's row, which also gives the list the focus. The
    // offscreen platform does not give the window back its activation when
    // a dialog closes, as a desktop does.
    void clickRow(const char *name, int row)
    {
        host->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(host.get()));
        QListWidget *l = list(name);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {},
                          l->visualItemRect(l->item(row)).center());
    }
    // Adds a class through the page's New... button; the dialog's caption.
    std::string newClass(const char *text)
    {
        std::string caption;
        test::onNextDialog([&](QDialog *dialog) {
            caption = dialog->windowTitle().toStdString();
            test::child<QLineEdit>(dialog, "classEdit")->setText(QString::fromLatin1(text));
            dialog->accept();
        });
        click("newClassButton");
        return caption;
    }
    // What the server reads: the values of one of /staff/'s lists.
    std::string storeValues(const std::string &list)
    {
        std::string out;
        auto key = ServerKey->openKey("Access\\Basic\\/staff/\\" + list);
        ConfigValue value;
        for (uint32_t i = 0; key && key->enumValue(i, value); ++i)
            out += value.name + "=" + value.data + ";";
        return out;
    }

    test::DemoStore demo;
    std::unique_ptr<AccessStore> access;
    // Nodes live in the tree's slabs; this one is freed with the fixture.
    std::unique_ptr<SiteNode, void (*)(SiteNode *)> node{CreateNode(), FreeNode};
    std::unique_ptr<QDialog> host;
    CNodePropAccess *page = nullptr;
    std::unique_ptr<QSignalSpy> wrote;
};

TEST_F(AccessPageTest, PathsAreOfferedProtectedAndUnprotected)
{
    // Which paths cover a node is the store library's rule, tested there.
    for (const char *path : {"/docs/", "/other/"})
        ASSERT_TRUE(access->CreatePath(path, "Staff"));
    ASSERT_TRUE(access->CreatePath("/", "Customers"));
    open("/docs/sub/");
    auto *paths = find<QComboBox>("pathList");
    EXPECT_EQ(Texts(paths), (Names{"/", "/docs/"}));
    EXPECT_EQ(paths->currentText().toStdString(), "/docs/");
    EXPECT_TRUE(button("deletePathButton")->isEnabled());
    paths->setCurrentIndex(0);
    EXPECT_FALSE(button("deletePathButton")->isEnabled()) << "the root";

    // The store's candidates in order, the node's own chosen.
    Names offered;
    test::onNextDialog([&](QDialog *dialog) {
        offered = Texts(test::child<QComboBox>(dialog, "urlPathCombo"));
        dialog->accept();
    });
    click("newPathButton");
    EXPECT_EQ(offered, (Names{"/docs", "/docs/sub"}));
    EXPECT_EQ(paths->currentText().toStdString(), "/docs/sub");

    MessageBox::setNextAnswer(QMessageBox::No);
    click("deletePathButton");
    EXPECT_TRUE(access->LoadPath("/docs/sub"));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    click("deletePathButton");
    EXPECT_FALSE(access->LoadPath("/docs/sub"));
    // The first path left is shown.
    EXPECT_EQ(Texts(paths), (Names{"/", "/docs/"}));
    EXPECT_EQ(find<QLabel>("realmLabel")->text().toStdString(), "Realm: Customers");
    EXPECT_EQ(wrote->count(), 2);
}

TEST_F(AccessPageTest, EachEditIsWhatTheServerReads)
{
    open("/staff/"); // the lists as loaded show in the checks after each edit

    // A class goes to the list that is active; then none is.
    EXPECT_FALSE(button("newClassButton")->isEnabled());
    clickRow("secondClassList", 0);
    EXPECT_EQ(newClass("10.9."), "New Deny Class");
    EXPECT_EQ(storeValues("*deny"), "0001=203.0.113.;0002=10.9.;");
    EXPECT_EQ(Texts(list("secondClassList")), (Names{"10.9.", "203.0.113."}));
    EXPECT_FALSE(button("newClassButton")->isEnabled());
    clickRow("secondClassList", 0);
    click("deleteClassButton");

    // Under "Deny, then Allow" the lists change places; the order is written at once.
    QTest::mouseClick(find<QRadioButton>("orderDenyAllow"), Qt::LeftButton);
    EXPECT_EQ(Texts(list("firstClassList")), (Names{"203.0.113."}));
    EXPECT_EQ(Texts(list("secondClassList")), (Names{"all"}));
    uint32_t order = 9;
    ASSERT_TRUE(ReadBinary32(*ServerKey->openKey("Access\\Basic\\/staff/"), "Order", order));
    EXPECT_EQ(order, 0u);
    clickRow("firstClassList", 0);
    EXPECT_EQ(newClass("bad."), "New Deny Class");
    clickRow("secondClassList", 0);
    EXPECT_EQ(newClass("example.org"), "New Allow Class");
    EXPECT_EQ(storeValues("*deny"), "0001=203.0.113.;0002=bad.;");
    EXPECT_EQ(storeValues("*allow"), "0001=all;0002=example.org;");

    // The realm's users and groups are offered; entries go in their stored form.
    Names offered;
    test::onNextDialog([&](QDialog *dialog) {
        auto *entries = test::child<QListWidget>(dialog, "usersGroupsList");
        offered = Texts(entries);
        entries->setCurrentRow(1); // bob
        dialog->accept();
    });
    click("addUserButton");
    EXPECT_EQ(offered, (Names{"alice", "bob", "carol", "jon", "[staff]", "[admins]"}));
    EXPECT_EQ(storeValues("Staff"), "0001=user alice;0002=group staff;0003=user bob;");
    // Add with nothing selected adds nothing.
    test::onNextDialog([](QDialog *dialog) { dialog->accept(); });
    click("addUserButton");
    EXPECT_FALSE(button("removeUserButton")->isEnabled());
    clickRow("usersList", 1); // alice
    click("removeUserButton");
    EXPECT_EQ(Texts(list("usersList")), (Names{"[staff]", "bob"}));
    EXPECT_EQ(storeValues("Staff"), "0001=group staff;0002=user bob;");
    EXPECT_EQ(wrote->count(), 7);
}

// The sheet around the page: OK after an edit raises the server's revision
// by exactly one; a sheet closed with OK without an edit leaves it.
TEST_F(AccessPageTest, SheetRaisesTheRevisionOnceAfterAnEdit)
{
    node->dir = SharedStr("/staff/");
    auto revision = [] {
        uint32_t value = 0;
        EXPECT_TRUE(ReadBinary32(*ServerKey, "RevNumber", value));
        return value;
    };
    const uint32_t before = revision();
    QSignalSpy closed(&appEvents(), &AppEvents::propertySheetClosed); // the views' refresh waits
    for (bool edit : {false, true}) {
        test::onNext<CNodeProperties>([&](CNodeProperties *sheet) {
            EXPECT_EQ(propertySheetOpen, 1);
            if (edit)
                QTest::mouseClick(test::child<QRadioButton>(sheet, "orderDenyAllow"),
                                  Qt::LeftButton);
            QTest::mouseClick(test::child<QPushButton>(sheet, "buttonOk"), Qt::LeftButton);
        });
        EXPECT_EQ(OpenProperties(node.get(), PageAccess, nullptr), QDialog::Accepted);
        EXPECT_EQ(std::tuple(revision(), propertySheetOpen, closed.count()),
                  std::tuple(before + edit, 0, qsizetype(1 + edit)));
    }
}

} // namespace
} // namespace sylvix
