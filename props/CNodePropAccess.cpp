#include "props/CNodePropAccess.h"

#include "app/MessageBox.h"
#include "model/Config.h"
#include "model/SiteNode.h"
#include "props/AccessWidgets.h"
#include "props/CNewClassDlg.h"
#include "props/CNewProtectedPathDlg.h"
#include "props/CUsersGroupsDlg.h"
#include "props/access/AccessStore.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace sylvix {

namespace {

QString ToQ(const std::string &text)
{
    return QString::fromStdString(text);
}

QStringList ToQ(const std::vector<std::string> &texts)
{
    QStringList list;
    for (const std::string &text : texts)
        list << ToQ(text);
    return list;
}

std::vector<std::string> Entries(const QListWidget *list)
{
    std::vector<std::string> entries;
    for (int row = 0; row < list->count(); ++row)
        entries.push_back(list->item(row)->text().toStdString());
    return entries;
}

void Fill(QListWidget *list, const std::vector<std::string> &entries)
{
    list->clear();
    for (const std::string &entry : entries)
        InsertSorted(list, ToQ(entry));
}

QPushButton *Button(const char *text, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

} // namespace

CNodePropAccess::CNodePropAccess(SiteNode *node, QWidget *parent)
    : QWidget(parent),
      m_node(node),
      m_pathList(new QComboBox(this)),
      m_newPath(Button("New...", "newPathButton", this)),
      m_deletePath(Button("Delete", "deletePathButton", this)),
      m_realmLabel(new QLabel(QStringLiteral("Realm:  Web Server"), this)),
      m_users(new QListWidget(this)),
      m_addUser(Button("Add...", "addUserButton", this)),
      m_removeUser(Button("Remove", "removeUserButton", this)),
      m_orderGroup(new QButtonGroup(this)),
      m_denyAllow(new QRadioButton(QStringLiteral("Deny, then Allow"), this)),
      m_allowDeny(new QRadioButton(QStringLiteral("Allow, then Deny"), this)),
      m_firstLabel(new QLabel(QStringLiteral("Allow classes"), this)),
      m_firstList(new ClassList(this)),
      m_secondLabel(new QLabel(QStringLiteral("... then Deny classes:"), this)),
      m_secondList(new ClassList(this)),
      m_newClass(Button("New...", "newClassButton", this)),
      m_deleteClass(Button("Delete", "deleteClassButton", this))
{
    setObjectName(QStringLiteral("accessPage"));
    setWindowTitle(QStringLiteral("Access"));
    m_pathList->setObjectName(QStringLiteral("pathList"));
    m_realmLabel->setObjectName(QStringLiteral("realmLabel"));
    m_users->setObjectName(QStringLiteral("usersList"));
    m_denyAllow->setObjectName(QStringLiteral("orderDenyAllow"));
    m_allowDeny->setObjectName(QStringLiteral("orderAllowDeny"));
    m_firstLabel->setObjectName(QStringLiteral("firstClassLabel"));
    m_firstList->setObjectName(QStringLiteral("firstClassList"));
    m_secondLabel->setObjectName(QStringLiteral("secondClassLabel"));
    m_secondList->setObjectName(QStringLiteral("secondClassList"));
    m_orderGroup->addButton(m_denyAllow, 0);
    m_orderGroup->addButton(m_allowDeny, 1);
    m_allowDeny->setChecked(true);

    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel(QStringLiteral("URL Path:"), this));
    pathRow->addWidget(m_pathList, 1);
    pathRow->addWidget(m_newPath);
    pathRow->addWidget(m_deletePath);

    auto *usersBox = new QGroupBox(QStringLiteral("Authorized Users && Groups"), this);
    auto *usersGrid = new QGridLayout(usersBox);
    usersGrid->addWidget(m_realmLabel, 0, 0);
    usersGrid->addWidget(m_users, 1, 0, 3, 1);
    usersGrid->addWidget(m_addUser, 1, 1);
    usersGrid->addWidget(m_removeUser, 2, 1);
    usersGrid->addWidget(new QLabel(QStringLiteral("Groups are enclosed in []"), this), 4, 0);
    usersGrid->setRowStretch(3, 1);

    auto *classBox = new QGroupBox(QStringLiteral("Class Restrictions"), this);
    auto *classGrid = new QGridLayout(classBox);
    classGrid->addWidget(m_denyAllow, 0, 0);
    classGrid->addWidget(m_allowDeny, 0, 1);
    classGrid->addWidget(m_firstLabel, 1, 0);
    classGrid->addWidget(m_secondLabel, 1, 1);
    classGrid->addWidget(m_firstList, 2, 0);
    classGrid->addWidget(m_secondList, 2, 1);
    auto *classButtons = new QHBoxLayout;
    classButtons->addStretch(1);
    classButtons->addWidget(m_newClass);
    classButtons->addWidget(m_deleteClass);
    classGrid->addLayout(classButtons, 3, 0, 1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(pathRow);
    layout->addWidget(usersBox, 1);
    layout->addWidget(classBox, 1);

    connect(m_pathList, &QComboBox::currentIndexChanged, this, [this] { loadPath(); });
    connect(m_newPath, &QPushButton::clicked, this, &CNodePropAccess::newPath);
    connect(m_deletePath, &QPushButton::clicked, this, &CNodePropAccess::deletePath);
    connect(m_addUser, &QPushButton::clicked, this, &CNodePropAccess::addUser);
    connect(m_removeUser, &QPushButton::clicked, this, &CNodePropAccess::removeUser);
    // Only a click writes: loading a path sets the buttons without one.
    connect(m_orderGroup, &QButtonGroup::idClicked, this, &CNodePropAccess::changeOrder);
    connect(m_newClass, &QPushButton::clicked, this, &CNodePropAccess::newClass);
    connect(m_deleteClass, &QPushButton::clicked, this, &CNodePropAccess::deleteClass);
    for (QListWidget *list : {m_users, static_cast<QListWidget *>(m_firstList),
                              static_cast<QListWidget *>(m_secondList)})
        connect(list, &QListWidget::itemSelectionChanged, this, &CNodePropAccess::updateButtons);
    m_firstList->installEventFilter(this);
    m_secondList->installEventFilter(this);
}

CNodePropAccess::~CNodePropAccess() = default;

AccessStore *CNodePropAccess::store()
{
    if (!m_store && ServerStore() && ServerKey)
        m_store = std::make_unique<AccessStore>(*ServerStore(), *ServerKey);
    return m_store.get();
}

std::string CNodePropAccess::selectedPath() const
{
    return m_pathList->currentText().toStdString();
}

int CNodePropAccess::order() const
{
    return m_orderGroup->checkedId() == 0 ? 0 : 1;
}

void CNodePropAccess::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        activate();
}

bool CNodePropAccess::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn)
        setActive(watched == m_firstList ? 1 : 2);
    return QWidget::eventFilter(watched, event);
}

void CNodePropAccess::activate()
{
    {
        const QSignalBlocker blocker(m_pathList);
        m_pathList->clear();
        const std::string dir = m_node ? m_node->dir.str() : std::string();
        if (AccessStore *access = store()) {
            for (const std::string &path : access->ListProtectedPaths()) {
                if (CoversDir(path, dir))
                    InsertSorted(m_pathList, ToQ(path));
            }
        }
        // Sorted, the last covering path is the longest: the most specific.
        m_pathList->setCurrentIndex(m_pathList->count() - 1);
    }
    loadPath();
}

void CNodePropAccess::clearPath()
{
    m_realm.clear();
    m_realmLabel->setText(QStringLiteral("Realm: "));
    m_users->clear();
    m_firstList->clear();
    m_secondList->clear();
}

void CNodePropAccess::loadPath()
{
    std::optional<AccessPath> loaded;
    if (AccessStore *access = store(); access && m_pathList->currentIndex() >= 0)
        loaded = access->LoadPath(selectedPath());
    if (!loaded) {
        clearPath();
    } else {
        m_realm = loaded->realm;
        m_realmLabel->setText(QStringLiteral("Realm: %1").arg(ToQ(m_realm)));
        Fill(m_users, loaded->users);
        // Any other number leaves the buttons as they were.
        if (loaded->order == 0u || loaded->order == 1u)
            m_orderGroup->button(static_cast<int>(*loaded->order))->setChecked(true);
        const bool allowFirst = order() == 1;
        m_firstLabel->setText(allowFirst ? QStringLiteral("Allow classes:")
                                         : QStringLiteral("Deny classes:"));
        m_secondLabel->setText(allowFirst ? QStringLiteral("... then Deny classes:")
                                          : QStringLiteral("... then Allow classes:"));
        Fill(m_firstList, allowFirst ? loaded->allow : loaded->deny);
        Fill(m_secondList, allowFirst ? loaded->deny : loaded->allow);
    }
    updateButtons();
}

void CNodePropAccess::afterWrite(bool written, bool reload)
{
    if (!written) {
        activate();
        return;
    }
    if (reload)
        loadPath();
    m_changed = true;
    emit wroteStore();
    updateButtons();
}

void CNodePropAccess::changeOrder()
{
    AccessStore *access = store();
    const bool written = access && access->SetOrder(selectedPath(), order());
    afterWrite(written, true);
}

void CNodePropAccess::newPath()
{
    AccessStore *access = store();
    if (!access)
        return;
    std::vector<std::string> existing;
    for (int row = 0; row < m_pathList->count(); ++row)
        existing.push_back(m_pathList->itemText(row).toStdString());
    const RealmList realms = access->ListRealms();
    CNewProtectedPathDlg dialog(ToQ(CandidatePaths(m_node ? m_node->dir.view() : "", existing)),
                                ToQ(realms.names), ToQ(realms.defaultRealm.value_or("")), this);
    if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty())
        return;
    const bool written
        = access->CreatePath(dialog.path().toStdString(), dialog.realm().toStdString());
    if (written) {
        const QSignalBlocker blocker(m_pathList);
        m_pathList->setCurrentIndex(InsertSorted(m_pathList, dialog.path()));
    }
    afterWrite(written, true);
}

void CNodePropAccess::deletePath()
{
    AccessStore *access = store();
    if (!access || m_pathList->currentIndex() < 0
        || !MessageBox::askYesNo(this,
                                 QStringLiteral("This will immediately remove all access control "
                                                "for the selected path. Are you sure you want to "
                                                "do this?"),
                                 QStringLiteral("Norvane Sylvix")))
        return;
    const bool written = access->DeletePath(selectedPath(), m_realm);
    if (written) {
        const QSignalBlocker blocker(m_pathList);
        m_pathList->removeItem(m_pathList->currentIndex());
        m_pathList->setCurrentIndex(-1);
        for (int row = 0; row < m_pathList->count(); ++row) {
            if (m_pathList->itemText(row).startsWith(u'/')) {
                m_pathList->setCurrentIndex(row);
                break;
            }
        }
    }
    afterWrite(written, true);
}

void CNodePropAccess::addUser()
{
    AccessStore *access = store();
    if (!access)
        return;
    CUsersGroupsDlg dialog(ToQ(access->ListUsersAndGroups(m_realm)), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString entry = dialog.selected();
    // Nothing selected, or somebody the list holds already: nothing to add.
    if (entry.isEmpty() || !m_users->findItems(entry, Qt::MatchExactly).isEmpty())
        return;
    const bool written = access->AddEntry(selectedPath(), m_realm, entry.toStdString());
    if (written)
        InsertSorted(m_users, entry);
    afterWrite(written);
}

void CNodePropAccess::removeUser()
{
    AccessStore *access = store();
    const QList<QListWidgetItem *> selected = m_users->selectedItems();
    if (!access || selected.isEmpty())
        return;
    delete selected.front();
    afterWrite(access->RewriteList(selectedPath(), m_realm, Entries(m_users)));
}

void CNodePropAccess::newClass()
{
    AccessStore *access = store();
    if (!access || m_active == 0)
        return;
    // The first list holds the classes that the order applies first.
    const bool allow = (m_active == 1) == (order() == 1);
    ClassList *target = m_active == 1 ? m_firstList : m_secondList;
    CNewClassDlg dialog(allow ? QStringLiteral("Allow") : QStringLiteral("Deny"), this);
    if (dialog.exec() != QDialog::Accepted || dialog.text().isEmpty())
        return;
    const bool written = access->AddEntry(selectedPath(), allow ? kAllowList : kDenyList,
                                          dialog.text().toStdString());
    if (written)
        InsertSorted(target, dialog.text());
    setActive(0);
    afterWrite(written);
}

void CNodePropAccess::deleteClass()
{
    AccessStore *access = store();
    ClassList *list = m_active == 1                                               ? m_firstList
                      : m_active == 2 || m_secondList->selectedItems().size() > 0 ? m_secondList
                                                                                  : m_firstList;
    const QList<QListWidgetItem *> selected = list->selectedItems();
    if (!access || selected.isEmpty())
        return;
    const bool allow = (list == m_firstList) == (order() == 1);
    delete selected.front();
    setActive(0);
    afterWrite(access->RewriteList(selectedPath(), allow ? kAllowList : kDenyList, Entries(list)));
}

void CNodePropAccess::setActive(int active)
{
    m_active = active;
    if (active == 1)
        m_secondList->clearSelection();
    else if (active == 2)
        m_firstList->clearSelection();
    updateButtons();
}

void CNodePropAccess::updateButtons()
{
    m_firstList->setActive(m_active == 1);
    m_secondList->setActive(m_active == 2);
    // With no covering path there is nothing to change but to protect one.
    const bool havePath = m_pathList->currentIndex() >= 0;
    m_deletePath->setEnabled(havePath && PathDeletable(selectedPath()));
    m_addUser->setEnabled(havePath);
    m_removeUser->setEnabled(havePath && !m_users->selectedItems().isEmpty());
    m_denyAllow->setEnabled(havePath);
    m_allowDeny->setEnabled(havePath);
    m_newClass->setEnabled(havePath && m_active != 0);
    m_deleteClass->setEnabled(!m_firstList->selectedItems().isEmpty()
                              || !m_secondList->selectedItems().isEmpty());
}

} // namespace sylvix
