#pragma once

#include "htmlparse/HtmlParse.h"
#include "model/SharedStr.h"

#include <string>

namespace sylvix {

class SiteNode;

// When a parsed document's markup is checked. AtOnce (the default): while it
// is parsed. OnFirstRead: when its diagnostics are first read, from the file
// as it is then; a file changed meanwhile gives no messages and
// Diagnostics::outOfDate(). The window uses OnFirstRead.
enum class MarkupChecks : int { AtOnce = 0, OnFirstRead = 1 };
void SetMarkupChecks(MarkupChecks mode);
MarkupChecks CurrentMarkupChecks();

SiteNode *FindEquivalent(SiteNode *start, const SharedStr &url, SiteNode *from);
void AdoptEquivalent(SiteNode *node, SiteNode *source);
// What NeedsReload asks of its caller.
enum class ReloadResult : int { Expand = 0, NothingToDo = 1, Stopped = 2 };
enum class ExpandResult : int { Stopped = 0, Expanded = 1 };

// Examines the node (resolving it when needed); whether to expand it now.
ReloadResult NeedsReload(SiteNode *node);
// Stopped when the user stopped it before it began, else Expanded.
ExpandResult ExpandNode(SiteNode *node);
SiteNode *CreateRootNode(const char *url);
void ParseDocument(SiteNode *node);
void ExtractLinks(SiteNode *node, const html::Block *block);
std::string CollectText(const html::Block *block, bool *any = nullptr);
SiteNode *AddChild(SiteNode *node, std::string_view href, const char *label);
// AddChild keeps what it made of links met before, with their shared
// strings; this lets them go (for checks that every string was released).
void ForgetRepeatedLinks();
void ExpandImageMap(SiteNode *node);
int OnParserMessage(const html::Error *error);

} // namespace sylvix
