// Files a root restore writes into a folder of another user (the service's state folder)
// become that user's, so that the service can read and replace them.
#pragma once

#include <string>

namespace zev {

/// When this process is root and `folder` belongs to another user, `path` is given to the
/// folder's user and group. False with `error` when that fails.
bool giveToFolderOwner(const std::string &path, const std::string &folder, std::string &error);

} // namespace zev
