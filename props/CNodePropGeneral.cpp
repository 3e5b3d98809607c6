#include "props/CNodePropGeneral.h"

#include "model/SiteNode.h"
#include "resources/Icons.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QVBoxLayout>

namespace sylvix {

namespace {

constexpr int kIconSize = 32;

QString fromStd(const std::string &s)
{
    return QString::fromStdString(s);
}

QLineEdit *readOnlyEdit(const char *name, const std::string &text, QWidget *parent)
{
    auto *edit = new QLineEdit(fromStd(text), parent);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setReadOnly(true);
    edit->setCursorPosition(0);
    return edit;
}

QLabel *named(QLabel *label, const char *name)
{
    label->setObjectName(QString::fromUtf8(name));
    return label;
}

} // namespace

CNodePropGeneral::CNodePropGeneral(SiteNode *node, const GeneralTexts &texts, QWidget *parent)
    : QWidget(parent), m_node(node)
{
    setObjectName(QStringLiteral("pageGeneral"));
    setWindowTitle(QStringLiteral("General"));

    auto *link = new QGroupBox(QStringLiteral("Link Properties"), this);
    link->setObjectName(QStringLiteral("groupLink"));
    auto *linkForm = new QFormLayout(link);
    addEdit(linkForm, "editHyperlink", QStringLiteral("Hyperlink:"), texts.hyperlink);
    addEdit(linkForm, "editLabel", QStringLiteral("Label:"), texts.label);
    addEdit(linkForm, "editUrl", QStringLiteral("URL:"), texts.url);

    auto *doc = new QGroupBox(QStringLiteral("Document Properties"), this);
    doc->setObjectName(QStringLiteral("groupDocument"));
    auto *docForm = new QFormLayout(doc);
    addEdit(docForm, "editTitle", QStringLiteral("Title:"), texts.title, "labelTitle");
    addEdit(docForm, "editFileName", QStringLiteral("File Name:"), texts.fileName, "labelFileName");
    addText(docForm, "textType", QStringLiteral("Type:"), texts.contentType, "labelType");
    auto *sizeRow = new QHBoxLayout;
    auto *size = named(new QLabel(fromStd(texts.size), doc), "textSize");
    size->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    size->setMinimumWidth(size->fontMetrics().horizontalAdvance(QStringLiteral("99999999")));
    sizeRow->addWidget(size);
    sizeRow->addWidget(named(new QLabel(QStringLiteral("K bytes"), doc), "textKBytes"));
    sizeRow->addStretch();
    docForm->addRow(named(new QLabel(QStringLiteral("Size:"), doc), "labelSize"), sizeRow);
    addText(docForm, "textModified", QStringLiteral("Modified:"), texts.modified, "labelModified");

    auto *left = new QVBoxLayout;
    left->addWidget(link);
    left->addWidget(doc);
    left->addStretch();

    // The kind at the top of the right column, the states below it.
    auto *states = new QGridLayout;
    states->setColumnStretch(1, 1);
    auto *kindIcon = named(new QLabel(this), "iconKind");
    kindIcon->setPixmap(Icon("UNKNOWN_ICON").pixmap(kIconSize));
    kindIcon->setAlignment(Qt::AlignCenter);
    auto *kindText = named(new QLabel(QStringLiteral("Unknown Type"), this), "textKind");
    kindText->setAlignment(Qt::AlignCenter);
    states->addWidget(kindIcon, 0, 0, 1, 2);
    states->addWidget(kindText, 1, 0, 1, 2);
    addStateIcon(states, 2, "BROKEN_ICON", "Broken", QStringLiteral("Broken"));
    addStateIcon(states, 3, "NOTVER_ICON", "NotVerified", QStringLiteral("Not Verified"));
    addStateIcon(states, 4, "EXTERNAL_ICON", "External", QStringLiteral("External"));
    addStateIcon(states, 5, "VIRTUAL_ICON", "Virtual", QStringLiteral("Virtual"));
    addStateIcon(states, 6, "SR_ICON", "Special", QStringLiteral("Special"));
    addStateIcon(states, 7, "INLINED_ICON", "Inlined", QStringLiteral("Inlined"));
    addStateIcon(states, 8, "ISMAP_ICON", "Mapped", QStringLiteral("Mapped"));
    states->setRowStretch(9, 1);

    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(states);
    setUpIcons();
}

QLineEdit *CNodePropGeneral::addEdit(QFormLayout *form, const char *name, const QString &label,
                                     const std::string &text, const char *labelName)
{
    QWidget *box = form->parentWidget();
    auto *edit = readOnlyEdit(name, text, box);
    auto *caption = new QLabel(label, box);
    if (labelName)
        caption->setObjectName(QString::fromUtf8(labelName));
    form->addRow(caption, edit);
    return edit;
}

QLabel *CNodePropGeneral::addText(QFormLayout *form, const char *name, const QString &label,
                                  const std::string &text, const char *labelName)
{
    QWidget *box = form->parentWidget();
    auto *value = named(new QLabel(fromStd(text), box), name);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(named(new QLabel(label, box), labelName), value);
    return value;
}

void CNodePropGeneral::addStateIcon(QGridLayout *grid, int row, const char *icon, const char *name,
                                    const QString &caption)
{
    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("icon") + QString::fromUtf8(name));
    picture->setPixmap(Icon(icon).pixmap(16));
    auto *text = new QLabel(caption, this);
    text->setObjectName(QStringLiteral("text") + QString::fromUtf8(name));
    picture->hide();
    text->hide();
    grid->addWidget(picture, row, 0);
    grid->addWidget(text, row, 1);
}

void CNodePropGeneral::setUpIcons()
{
    if (!m_node)
        return;
    const uint32_t flags = m_node->flags;
    const bool doc = !(flags & (BROKEN | NOTVER));
    const bool title = doc && m_node->kind == Html;
    for (const char *name : {"editTitle", "labelTitle"})
        findChild<QWidget *>(QString::fromUtf8(name))->setEnabled(title);
    for (const char *name :
         {"labelSize", "labelFileName", "labelModified", "labelType", "textKBytes"})
        findChild<QWidget *>(QString::fromUtf8(name))->setEnabled(doc);
    // A disabled group box would disable the fields inside it too (a broken
    // local file still shows its name): only its title is greyed.
    if (!doc) {
        auto *group = findChild<QWidget *>(QStringLiteral("groupDocument"));
        QPalette palette = group->palette();
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive})
            palette.setColor(g, QPalette::WindowText,
                             palette.color(QPalette::Disabled, QPalette::WindowText));
        group->setPalette(palette);
    }

    const QIcon kind = KindIcon(m_node->kind);
    if (!kind.isNull())
        findChild<QLabel *>(QStringLiteral("iconKind"))->setPixmap(kind.pixmap(kIconSize));
    findChild<QLabel *>(QStringLiteral("textKind"))
        ->setText(QString::fromUtf8(KindDisplayText(m_node->kind)));

    auto show = [this](const char *name) {
        findChild<QWidget *>(QStringLiteral("icon") + QString::fromUtf8(name))->show();
        findChild<QWidget *>(QStringLiteral("text") + QString::fromUtf8(name))->show();
    };
    // Broken before Not Verified here, unlike the tree rows.
    if (flags & BROKEN)
        show("Broken");
    else if (flags & NOTVER)
        show("NotVerified");
    if (flags & ISMAP)
        show("Mapped");
    if (flags & INLINED)
        show("Inlined");
    if (flags & EXTERNAL)
        show("External");
    else if (flags & VIRTUAL)
        show("Virtual");
}

CNodePropGeneralNoHTML::CNodePropGeneralNoHTML(SiteNode *, const GeneralTexts &texts,
                                               QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pageGeneralNoHtml"));
    setWindowTitle(QStringLiteral("General"));
    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("Hyperlink:"),
                 readOnlyEdit("editHyperlink", texts.hyperlink, this));
    form->addRow(QStringLiteral("URL:"), readOnlyEdit("editUrl", texts.url, this));
    form->addRow(QStringLiteral("Label:"), readOnlyEdit("editLabel", texts.label, this));
}

} // namespace sylvix
