#include "model/Layout.h"

#include "model/English.h"
#include "model/RegisterMap.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace zev {
namespace {

using K = LayoutKind;

// clang-format off
constexpr LayoutNode kLayout[] = {
    {0, K::Page, "音乐调整"},
      {1, K::Group, "音乐调整"},
        {2, K::Bar, nullptr, 16},
        {2, K::Bar, nullptr, 17},
        {2, K::Group, "7 BAND-EQ", 0, nullptr, kExpanding},
          {3, K::Radio, nullptr, 23},
          {3, K::Bar, nullptr, 30}, {3, K::Bar, nullptr, 29}, {3, K::Bar, nullptr, 28},
          {3, K::Bar, nullptr, 27}, {3, K::Bar, nullptr, 26}, {3, K::Bar, nullptr, 25},
          {3, K::Bar, nullptr, 24},
      {1, K::Row},
        {2, K::Group, "音乐输入"},
          {3, K::Column},
            {4, K::Radio, nullptr, 18},
            {4, K::Check, nullptr, 22},
        {2, K::Group, "变调"},
          {3, K::Bar, nullptr, 21, nullptr, kHideCaption},
        {2, K::Group, "中置调整"},
          {3, K::Bar, nullptr, 80},
          {3, K::Bar, nullptr, 81},
          {3, K::Bar, nullptr, 82, nullptr, kSharedScale},
          {3, K::Scale, nullptr, 82},
          {3, K::Bar, nullptr, 83, nullptr, kSharedScale},
        {2, K::Group, "低音调整"},
          {3, K::Bar, nullptr, 85}, {3, K::Bar, nullptr, 86}, {3, K::Bar, nullptr, 87},

    {0, K::Page, "话筒调整"},
      {1, K::Row, nullptr, 0, nullptr, kSpread},
        {2, K::Bar, nullptr, 32},
        {2, K::Bar, nullptr, 33},
        {2, K::Column, nullptr, 0, nullptr, kSpread},
          {3, K::Check, nullptr, 34},
          {3, K::Check, nullptr, 45},
        {2, K::Bar, nullptr, 35},
        {2, K::Group, "啸叫抑制模式"},
          {3, K::Radio, nullptr, 44},
      {1, K::Group, "话筒调整"},
        {2, K::Group, "话筒EQ模式"},
          {3, K::Radio, nullptr, 36},
        {2, K::Group, "7 BAND-EQ"},
          {3, K::Bar, nullptr, 43}, {3, K::Bar, nullptr, 42}, {3, K::Bar, nullptr, 41},
          {3, K::Bar, nullptr, 40}, {3, K::Bar, nullptr, 39}, {3, K::Bar, nullptr, 38},
          {3, K::Bar, nullptr, 37},

    {0, K::Page, "效果调整"},
      {1, K::Row},
        {2, K::Bar, nullptr, 48},
        {2, K::Group, "5 BAND-EQ"},
          {3, K::Bar, nullptr, 69}, {3, K::Bar, nullptr, 68}, {3, K::Bar, nullptr, 67},
          {3, K::Bar, nullptr, 66}, {3, K::Bar, nullptr, 65},
        {2, K::Panel, nullptr, 0, "合唱"},
          {3, K::Bar, nullptr, 60}, {3, K::Bar, nullptr, 61}, {3, K::Bar, nullptr, 62},
      {1, K::Row},
        {2, K::Group, nullptr, 0, "DSP模式", kNoFlags, "DSPModeGroupBox"},
          {3, K::Column},
            {4, K::Radio, nullptr, 49},
            {4, K::FixedMode, nullptr, 49},
          {3, K::Panel, "回声"},
            {4, K::Bar, nullptr, 50}, {4, K::Bar, nullptr, 51}, {4, K::Bar, nullptr, 52},
            {4, K::Bar, nullptr, 53},
          {3, K::Panel, "混响"},
            {4, K::Bar, nullptr, 54}, {4, K::Bar, nullptr, 55}, {4, K::Bar, nullptr, 56},
            {4, K::Bar, nullptr, 57}, {4, K::Bar, nullptr, 58}, {4, K::Bar, nullptr, 59},
        {2, K::Panel, nullptr, 0, "颤音"},
          {3, K::Bar, nullptr, 63}, {3, K::Bar, nullptr, 64},
};
// clang-format on

bool isControl(const LayoutNode &node)
{
    return node.kind == K::Bar || node.kind == K::Radio || node.kind == K::Check;
}

bool isNamedFrame(const LayoutNode &node)
{
    return (node.kind == K::Group || node.kind == K::Panel || node.kind == K::Page) &&
           *layoutName(node);
}

std::string oneLine(const char *text)
{
    std::string line = text ? text : "";
    for (char &c : line)
        if (c == '\n') c = ' ';
    return line;
}

struct Derived {
    std::vector<std::vector<std::size_t>> children;
    std::array<std::vector<const char *>, 256> contexts{}; ///< named frames, innermost first
    std::array<Placement, 256> placements{};
    std::array<std::string, 256> names{};
    std::array<std::string, 256> englishNames{};
};

const Derived &derived()
{
    static const Derived d = [] {
        Derived r;
        const std::size_t n = std::size(kLayout);
        r.children.resize(n);
        std::vector<std::size_t> open; // the nodes around the current one, outermost first
        for (std::size_t i = 0; i < n; ++i) {
            while (!open.empty() && kLayout[open.back()].depth >= kLayout[i].depth)
                open.pop_back();
            if (!open.empty()) r.children[open.back()].push_back(i);
            if (isControl(kLayout[i])) {
                const std::uint8_t a = kLayout[i].address;
                for (auto it = open.rbegin(); it != open.rend(); ++it)
                    if (isNamedFrame(kLayout[*it]))
                        r.contexts[a].push_back(layoutName(kLayout[*it]));
                const char *page = layoutName(kLayout[open.front()]);
                const char *group = "";
                for (auto it = open.rbegin(); it != open.rend(); ++it)
                    if (kLayout[*it].kind != K::Page && isNamedFrame(kLayout[*it])) {
                        group = layoutName(kLayout[*it]);
                        break;
                    }
                r.placements[a] = {page, group};
            }
            open.push_back(i);
        }

        // Names: the caption after the innermost context, extended outwards while shared.
        struct Naming {
            std::uint8_t address;
            std::string caption;
            std::size_t used = 0;
            std::string name;
            std::vector<std::string> parts; ///< the name's parts, outermost first
        };
        std::vector<Naming> all;
        for (const RegisterRow &row : registerMap()) {
            Naming naming{row.address, oneLine(row.caption), 0, {}, {}};
            const auto &context = r.contexts[row.address];
            const bool alone = controlKind(row) == ControlKind::Radio ||
                               controlKind(row) == ControlKind::Mode || context.empty() ||
                               naming.caption.rfind(context.front(), 0) == 0;
            naming.name = naming.caption;
            naming.parts = {row.caption ? row.caption : ""};
            if (!alone) {
                naming.parts.insert(naming.parts.begin(), context[naming.used]);
                naming.name = std::string(context[naming.used++]) + " " + naming.caption;
            }
            all.push_back(naming);
        }
        for (bool changed = true; changed;) {
            changed = false;
            std::map<std::string, int> counts;
            for (const Naming &naming : all)
                ++counts[naming.name];
            for (Naming &naming : all) {
                const auto &context = r.contexts[naming.address];
                if (counts[naming.name] > 1 && naming.used < context.size()) {
                    const std::string outer = context[naming.used++];
                    if (naming.name.rfind(outer, 0) != 0) {
                        naming.name = outer + " " + naming.name;
                        naming.parts.insert(naming.parts.begin(), outer);
                    }
                    changed = true;
                }
            }
        }
        // The English name has the Chinese one's parts, each in English.
        for (const Naming &naming : all) {
            r.names[naming.address] = naming.name;
            std::string inEnglish;
            for (const std::string &part : naming.parts) {
                std::string word = zev::englishName(part);
                // "Music volume": a part after the first goes on in lower case, but for a word
                // in capitals ("ALC", "LOUD") or a single letter ("R delay").
                const std::string first = word.substr(0, word.find(' '));
                const bool capitals = std::none_of(first.begin(), first.end(), [](char c) {
                    return c >= 'a' && c <= 'z';
                });
                if (!inEnglish.empty() && !capitals && !word.empty() && word[0] >= 'A' &&
                    word[0] <= 'Z')
                    word[0] = char(word[0] - 'A' + 'a');
                inEnglish += (inEnglish.empty() ? "" : " ") + word;
            }
            r.englishNames[naming.address] = inEnglish;
        }
        return r;
    }();
    return d;
}

} // namespace

std::span<const LayoutNode> windowLayout()
{
    return kLayout;
}

std::span<const std::size_t> layoutChildren(std::size_t index)
{
    const auto &children = derived().children;
    if (index >= children.size()) return {};
    return children[index];
}

const char *layoutName(const LayoutNode &node)
{
    if (node.caption) return node.caption;
    return node.name ? node.name : "";
}

Placement placementOf(std::uint8_t address)
{
    const Placement &where = derived().placements[address];
    return where.page ? where : Placement{"", ""};
}

const std::string &nameForPeople(std::uint8_t address, Language language)
{
    return language == Language::English ? derived().englishNames[address]
                                          : derived().names[address];
}

} // namespace zev
