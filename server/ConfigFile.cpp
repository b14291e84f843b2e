#include "server/ConfigFile.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace zev {
namespace {

// The options a config file may give, and whether one may be given more than once.
struct ConfigKey {
    const char *name;
    bool repeats;
};
constexpr ConfigKey kConfigKeys[] = {
    {"venue", false},        {"listen", false},          {"state", false},
    {"name", true},          {"desk", false},            {"journal-bytes", false},
    {"certificate", false},  {"key", false},             {"frame-ports", false},
    {"frame-port", true},    {"frame-allow", true},      {"web", false},
    {"max-connections", false}, {"trusted-proxy", true}, {"verify-interval", false},
    {"restore", false},         {"snapshot-at", false},     {"snapshot-days", false},
    {"notify-url", false},      {"notify-after", false},
};

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

} // namespace

bool configWords(const std::string &text, const std::string &file, std::vector<ConfigWord> &words,
                 std::string &error)
{
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        error = file + ":1: starts with a byte-order mark; save it as plain UTF-8";
        return false;
    }
    std::vector<std::pair<std::string, int>> seen;
    std::size_t at = 0;
    int number = 0;
    while (at < text.size()) {
        ++number;
        const std::string where = file + ":" + std::to_string(number);
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + 1;
        const auto first = std::find_if_not(line.begin(), line.end(), blank);
        if (first == line.end() || *first == '#') continue;
        line.erase(line.begin(), first);
        for (std::size_t hash = line.find('#'); hash != std::string::npos;
             hash = line.find('#', hash + 1))
            if (blank(line[hash - 1])) {
                line.resize(hash);
                break;
            }
        if (line.find('#') != std::string::npos) {
            error = where + ": '#' inside a value (a comment starts a line, or follows a blank)";
            return false;
        }
        while (!line.empty() && blank(line.back()))
            line.pop_back();
        const std::size_t space = std::find_if(line.begin(), line.end(), blank) - line.begin();
        const std::string key = line.substr(0, space);
        std::size_t value = space;
        while (value < line.size() && blank(line[value]))
            ++value;
        if (key.empty() || value >= line.size()) {
            error = where + ": not 'OPTION VALUE' (listen 127.0.0.1:8720)";
            return false;
        }
        const auto known = std::find_if(std::begin(kConfigKeys), std::end(kConfigKeys),
                                        [&](const ConfigKey &k) { return key == k.name; });
        if (known == std::end(kConfigKeys)) {
            error = where + ": unknown option '" + key + "' (zev720d --help lists them)";
            return false;
        }
        const auto before = std::find_if(seen.begin(), seen.end(),
                                         [&](const auto &item) { return item.first == key; });
        if (before != seen.end() && !known->repeats) {
            error = where + ": '" + key + "' given again (first on line " +
                    std::to_string(before->second) + ")";
            return false;
        }
        seen.emplace_back(key, number);
        words.push_back({"--" + key, where});
        words.push_back({line.substr(value), where});
    }
    return true;
}

} // namespace zev
