#pragma once

#include <optional>
#include <string>

namespace sylvix {

class SiteNode;

enum class ResolveResult : int { Stopped = 0, Finished = 1 };

// Finished whatever the outcome; Stopped when the user stopped a network
// operation or gave up.
ResolveResult ResolveNode(SiteNode *node);
int ResolveLocal(SiteNode *node);
int CheckExternal(SiteNode *node);
void KindFromType(SiteNode *node);
std::optional<std::string> FindProgramFile(const std::string &path);
// "\" becomes "/" here (the native separator), and "/../" segments go.
void NormalizeLocalPath(std::string &path);

// Redirects followed for one resolution before the node counts as broken.
inline constexpr int kMaxRedirects = 10;
// The longest local path that resolution builds.
inline constexpr size_t kMaxLocalPath = 4095;

// Fills st from the file's status; false when it cannot be taken.
bool StatFile(const char *path, struct FileStatus &st);

} // namespace sylvix
