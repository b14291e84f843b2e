#include "room/RoomLine.h"

#include "wire/LineCodes.h"
#include "wire/NetworkAddress.h"
#include "link/PortDevices.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

namespace zev {
namespace {

// A device path or network line is given a number of its own, above any a person would type.
constexpr int kFirstPathPort = 1'000'000;
int nextPathPort = kFirstPathPort;

bool isNumber(const std::string &text, int &value)
{
    if (text.empty() || text.size() > 9) return false;
    std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i == text.size()) return false;
    for (std::size_t j = i; j < text.size(); ++j)
        if (!std::isdigit(static_cast<unsigned char>(text[j]))) return false;
    value = std::stoi(text);
    return true;
}

bool isPath(const std::string &text)
{
    return text.rfind("/", 0) == 0 || text.rfind("./", 0) == 0 || text.rfind("../", 0) == 0;
}

int indexIn(const std::vector<std::string> &list, std::string value)
{
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? -1 : int(it - list.begin());
}

std::string joined(const std::vector<std::string> &list)
{
    std::string text;
    for (const std::string &item : list)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

} // namespace

bool portNumberFor(const std::string &line, int &port, std::string &error)
{
    if (isNumber(line, port)) return true;
    if (const std::string name = comPortName(line); kSystemPortNames && !name.empty()) {
        port = nextPathPort++;
        assignPortDevice(port, name); // "\\.\com5" is COM5, as the system names it
        return true;
    }
    if (isNetworkLine(line)) {
        const NetworkAddress address = parseNetworkLine(line);
        if (!address.valid) {
            error = line + ": " + address.problem;
            return false;
        }
    } else if (!isPath(line)) {
        error = line + ": not a port number, a device path or a network line";
        return false;
    }
    port = nextPathPort++;
    assignPortDevice(port, line);
    return true;
}

bool looksLikePort(const std::string &text)
{
    int number = 0;
    if (isNumber(text, number) || text.rfind("/dev/", 0) == 0 || isNetworkLine(text) ||
        (kSystemPortNames && !comPortName(text).empty()))
        return true;
    std::error_code error;
    const auto status = std::filesystem::status(text, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
}

bool lineSettingsFor(int port, const LineOptions &options, PortSettings &settings,
                     std::string &error)
{
    settings = {}; // 9600 8N1 unless ZEV720.cfg or the options say otherwise
    readPortSettingsFile(settings);
    settings.port = port;
    if (options.baud >= 0) {
        settings.baud = -1;
        for (int i = 0; i < kBaudRateCount; ++i)
            if (kBaudRates[i] == options.baud) settings.baud = i;
        if (settings.baud < 0) {
            error = "--baud " + std::to_string(options.baud) + ": not a rate of the port settings";
            return false;
        }
    }
    if (options.dataBits >= 0) {
        if (options.dataBits < 5 || options.dataBits > 8) {
            error = "--data: 5, 6, 7 or 8";
            return false;
        }
        settings.dataBits = options.dataBits - 5;
    }
    if (options.stopBits >= 0) {
        if (options.stopBits != 1 && options.stopBits != 2) {
            error = "--stop: 1 or 2";
            return false;
        }
        settings.stopBits = options.stopBits - 1;
    }
    const std::vector<std::string> parities = {"none", "even", "odd", "mark", "space"};
    const std::vector<std::string> flows = {"none", "hardware", "software"};
    if (!options.parity.empty()) {
        settings.parity = indexIn(parities, options.parity);
        if (settings.parity < 0) {
            error = "--parity '" + options.parity + "': one of " + joined(parities);
            return false;
        }
    }
    if (!options.flow.empty()) {
        settings.flow = indexIn(flows, options.flow);
        if (settings.flow < 0) {
            error = "--flow '" + options.flow + "': one of " + joined(flows);
            return false;
        }
    }
    return true;
}

} // namespace zev
