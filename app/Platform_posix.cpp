#include "app/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

const char *portsHelp()
{
    return "otherwise /dev/ttyUSB<n-1>, /dev/ttyACM<n-1> or /dev/ttyS<n-1>. A line is a device path\n"
           "or a processor behind a serial device server: tcp://HOST:PORT, rfc2217://HOST:PORT.\n"
           "Serial devices belong to the group dialout: add yourself with\n"
           "'sudo adduser $USER dialout' and log in again.\n";
}

bool enterMenuFolder(std::string &error)
{
    const char *data = std::getenv("XDG_DATA_HOME");
    const char *home = std::getenv("HOME");
    std::string base = data && *data ? data : std::string(home ? home : "") + "/.local/share";
    // Each level as mkdir -p makes it, for the user alone to write.
    std::string folder;
    for (std::size_t at = 0; at != std::string::npos;) {
        const std::size_t next = base.find('/', at + 1);
        folder = base.substr(0, next);
        if (!folder.empty()) ::mkdir(folder.c_str(), 0755);
        at = next;
    }
    folder = base + "/zev720";
    if ((::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) || ::chdir(folder.c_str()) != 0) {
        error = folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool workingFolderUnfit()
{
    return false;
}
