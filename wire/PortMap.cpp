#include "wire/PortMap.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    PortsFile file;
    std::ifstream in(kPortsFile);
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (const auto hash = text.find('#'); hash != std::string::npos) text.erase(hash);
        const auto first = text.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue; // blank or comment
        const auto equals = text.find('=');
        auto trim = [](std::string part) {
            const auto from = part.find_first_not_of(" \t\r");
            const auto to = part.find_last_not_of(" \t\r");
            return from == std::string::npos ? std::string() : part.substr(from, to - from + 1);
        };
        const std::string key = equals == std::string::npos ? "" : trim(text.substr(0, equals));
        const std::string line = equals == std::string::npos ? "" : trim(text.substr(equals + 1));
        const bool numeric =
            !key.empty() && key.size() < 10 &&
            std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c); });
        if (!numeric || line.empty()) {
            file.problems.push_back(std::string(kPortsFile) + ":" + std::to_string(number) +
                                    ": not \"n = line\": " + trim(text));
            continue;
        }
        file.lines[std::stoi(key)] = line;
    }
    return file;
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
