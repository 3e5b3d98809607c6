#pragma once

#include <string>
#include <string_view>

namespace sylvix {

class SiteNode;

void SetUrl(SiteNode *node, std::string_view text, SiteNode *parent);
void ParseUrl(SiteNode *node, std::string_view text, SiteNode *parent);
void BuildUrl(SiteNode *node);
std::string LocalUrl(const SiteNode *node);

} // namespace sylvix
