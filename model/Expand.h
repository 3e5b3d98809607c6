#pragma once

#include "htmlparse/HtmlParse.h"
#include "model/SharedStr.h"

#include <string>

namespace sylvix {

class SiteNode;

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
