#pragma once

// What the shell asks of a tree window, so that app/ needs no tree/ header.

#include <QWidget>

namespace sylvix {

class CListtestDoc;

struct CommandState
{
    bool enabled = false;
    bool checked = false;
};

class CommandTarget
{
public:
    virtual ~CommandTarget() = default;
    // True when this target has a rule for id; the rule fills state.
    virtual bool UpdateCommand(int id, CommandState &state) = 0;
    // True when this target ran id.
    virtual bool OnCommand(int id) = 0;
};

class DocView : public CommandTarget
{
public:
    virtual QWidget *widget() = 0;
    virtual CListtestDoc *document() const = 0;
    virtual void SetOutOfDate(int flag) = 0;
    // The view became the frame's active view, or stopped being it.
    virtual void OnActivateView(bool active) = 0;
};

} // namespace sylvix
