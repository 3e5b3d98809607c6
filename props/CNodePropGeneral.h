#pragma once

// The General page of the node property sheet: the link's and the
// document's texts, read-only, the kind icon and the link-state icons.

#include "props/PropertyRules.h"

#include <QWidget>

class QFormLayout;
class QGridLayout;
class QLabel;
class QLineEdit;

namespace sylvix {

class SiteNode;

class CNodePropGeneral : public QWidget
{
    Q_OBJECT

public:
    CNodePropGeneral(SiteNode *node, const GeneralTexts &texts, QWidget *parent = nullptr);

    SiteNode *node() const { return m_node; }

private:
    QLineEdit *addEdit(QFormLayout *form, const char *name, const QString &label,
                       const std::string &text, const char *labelName = nullptr);
    QLabel *addText(QFormLayout *form, const char *name, const QString &label,
                    const std::string &text, const char *labelName);
    // One icon with its caption in the state column, hidden until it applies.
    void addStateIcon(QGridLayout *grid, int row, const char *icon, const char *name,
                      const QString &caption);
    void setUpIcons();

    SiteNode *m_node;
};

// The reduced General page: hyperlink, URL and label only.
class CNodePropGeneralNoHTML : public QWidget
{
    Q_OBJECT

public:
    CNodePropGeneralNoHTML(SiteNode *node, const GeneralTexts &texts, QWidget *parent = nullptr);
};

} // namespace sylvix
