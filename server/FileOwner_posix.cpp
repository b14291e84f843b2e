#include "server/FileOwner.h"

#include "files/TextFile.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {

bool giveToFolderOwner(const std::string &path, const std::string &folder, std::string &error)
{
    struct stat owner {};
    if (geteuid() != 0 || ::stat(folder.c_str(), &owner) != 0 || owner.st_uid == 0) return true;
    if (::lchown(path.c_str(), owner.st_uid, owner.st_gid) == 0) return true;
    error = path + ": " + systemErrorText(errno);
    return false;
}

} // namespace zev
