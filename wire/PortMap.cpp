#include "wire/PortMap.h"

#include "wire/NetworkAddress.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace zev {

PortsFile parsePortsFile(std::string_view text, const std::string &fileName)
{
    PortsFile file;
    std::size_t malformed = 0;
    auto problem = [&](int number, const std::string &what) {
        if (++malformed <= kPortsProblemsShown)
            file.problems.push_back(fileName + ":" + std::to_string(number) + ": " + what);
    };
    auto trim = [](std::string_view part) {
        const auto from = part.find_first_not_of(" \t\r");
        const auto to = part.find_last_not_of(" \t\r");
        return from == std::string_view::npos ? std::string()
                                              : std::string(part.substr(from, to - from + 1));
    };
    for (int number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::string_view row = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (const auto hash = row.find('#'); hash != std::string_view::npos)
            row = row.substr(0, hash);
        if (trim(row).empty()) continue; // blank or comment
        const auto equals = row.find('=');
        const std::string key = equals == std::string_view::npos ? "" : trim(row.substr(0, equals));
        const std::string line =
            equals == std::string_view::npos ? "" : trim(row.substr(equals + 1));
        const bool numeric =
            !key.empty() && key.size() < 10 &&
            std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c); });
        const bool printable = std::all_of(row.begin(), row.end(), [](unsigned char c) {
            return c >= 0x20 && c != 0x7F;
        });
        if (!numeric || line.empty() || !printable) {
            problem(number, "not \"n = line\"" + (printable ? ": " + trim(row) : std::string()));
            continue;
        }
        if (isNetworkLine(line)) {
            const NetworkAddress address = parseNetworkLine(line);
            if (!address.valid) {
                problem(number, line + ": " + address.problem);
                continue;
            }
        } else if (line.find("://") != std::string::npos) {
            problem(number, line + ": not a device path, tcp://HOST:PORT or rfc2217://HOST:PORT");
            continue;
        }
        file.lines[std::stoi(key)] = line;
    }
    if (malformed > kPortsProblemsShown)
        file.problems.push_back(fileName + ": " + std::to_string(malformed - kPortsProblemsShown) +
                                " more malformed lines");
    return file;
}

std::string comPortName(const std::string &text)
{
    std::string_view rest = text;
    if (rest.substr(0, 4) == "\\\\.\\") rest.remove_prefix(4);
    if (rest.size() < 4 || rest.size() > 6) return {}; // COM1 to COM255
    const auto upper = [](unsigned char c) { return char(std::toupper(c)); };
    if (upper(rest[0]) != 'C' || upper(rest[1]) != 'O' || upper(rest[2]) != 'M') return {};
    const std::string_view digits = rest.substr(3);
    if (digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return {};
    if (std::stoi(std::string(digits)) > 255) return {};
    return "COM" + std::string(digits);
}

} // namespace zev
