#include "link/PortDevices.h"

#include "files/TextFile.h"

#include <cstdlib>
#include <filesystem>
#include <map>

namespace zev {

namespace {
std::map<int, std::string> &assigned()
{
    static std::map<int, std::string> byPort;
    return byPort;
}
} // namespace

PortsFile readPortsFile()
{
    std::string text, error;
    switch (readTextFile(kPortsFile, kMaxPortsFileBytes, text, error)) {
    case TextFileStatus::Missing:
        return {};
    case TextFileStatus::Failed: {
        PortsFile file;
        file.problems.push_back(error);
        return file;
    }
    case TextFileStatus::Read:
        break;
    }
    return parsePortsFile(text);
}

void assignPortDevice(int port, const std::string &device)
{
    assigned()[port] = device;
}

std::string portDevice(int port)
{
    if (const auto it = assigned().find(port); it != assigned().end()) return it->second;
    const std::string variable = "ZEV720_COM" + std::to_string(port);
    if (const char *device = std::getenv(variable.c_str()); device && *device) return device;
    const PortsFile file = readPortsFile(); // read at each open: edits count at once
    if (const auto it = file.lines.find(port); it != file.lines.end()) return it->second;
#ifdef _WIN32
    return "COM" + std::to_string(port);
#else
    if (port < 1) return {};
    const std::string index = std::to_string(port - 1);
    for (const char *prefix : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"}) {
        std::error_code error;
        const std::string path = prefix + index;
        if (std::filesystem::exists(path, error)) return path;
    }
    return {};
#endif
}

} // namespace zev
