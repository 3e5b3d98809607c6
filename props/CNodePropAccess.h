#pragma once

// The Access Control page of the property sheet: the server's protection of
// the URL paths that cover a node, edited in the configuration store at once.

#include <QWidget>

#include <memory>
#include <string>

class QButtonGroup;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace sylvix {

class AccessStore;
class ClassList;
class SiteNode;

class CNodePropAccess : public QWidget
{
    Q_OBJECT
public:
    explicit CNodePropAccess(SiteNode *node, QWidget *parent = nullptr);
    ~CNodePropAccess() override;

    // True once any change reached the store; the sheet then raises the
    // server's revision number when it closes with OK.
    bool changed() const { return m_changed; }

    // Reads everything again and selects the most specific covering path;
    // done each time the page is shown.
    void activate();

signals:
    // After each write: nothing undoes it, so the sheet offers only Close.
    void wroteStore();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    AccessStore *store();
    std::string selectedPath() const;
    int order() const; // 0 "Deny, then Allow", 1 "Allow, then Deny"
    void loadPath();
    void clearPath();
    void changeOrder();
    void newPath();
    void deletePath();
    void addUser();
    void removeUser();
    void newClass();
    void deleteClass();
    void setActive(int active);
    void updateButtons();
    // A write either reached the store, or was skipped (the path went
    // meanwhile) and the page shows what the store holds now.
    void afterWrite(bool written, bool reload = false);

    SiteNode *m_node;
    std::unique_ptr<AccessStore> m_store;
    bool m_changed = false;
    int m_active = 0; // 0 none, 1 first class list, 2 second
    std::string m_realm;

    QComboBox *m_pathList;
    QPushButton *m_newPath;
    QPushButton *m_deletePath;
    QLabel *m_realmLabel;
    QListWidget *m_users;
    QPushButton *m_addUser;
    QPushButton *m_removeUser;
    QButtonGroup *m_orderGroup;
    QRadioButton *m_denyAllow;
    QRadioButton *m_allowDeny;
    QLabel *m_firstLabel;
    ClassList *m_firstList;
    QLabel *m_secondLabel;
    ClassList *m_secondList;
    QPushButton *m_newClass;
    QPushButton *m_deleteClass;
};

} // namespace sylvix
