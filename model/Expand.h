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
int NeedsReload(SiteNode *node);
int ExpandNode(SiteNode *node);
SiteNode *CreateRootNode(const char *url);
void ParseDocument(SiteNode *node);
void ExtractLinks(SiteNode *node, const html::Block *block);
std::string CollectText(const html::Block *block, bool *any = nullptr);
SiteNode *AddChild(SiteNode *node, std::string_view href, const char *label);
void ExpandImageMap(SiteNode *node);
int OnParserMessage(const html::Error *error);

} // namespace sylvix
