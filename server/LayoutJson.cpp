#include "server/LayoutJson.h"

#include "files/Json.h"
#include "model/EditRules.h"
#include "model/Encoding.h"
#include "model/Layout.h"
#include "model/Shown.h"

#include <map>

namespace zev {
namespace {

const char *kindName(LayoutKind kind)
{
    switch (kind) {
    case LayoutKind::Page: return "page";
    case LayoutKind::Row: return "row";
    case LayoutKind::Column: return "column";
    case LayoutKind::Group: return "group";
    case LayoutKind::Panel: return "panel";
    case LayoutKind::Bar: return "bar";
    case LayoutKind::Scale: return "scale";
    case LayoutKind::Radio: return "radio";
    case LayoutKind::Check: return "check";
    case LayoutKind::FixedMode: return "fixed";
    }
    return "row";
}

std::string control(const LayoutNode &node)
{
    const RegisterRow &row = *findRegister(node.address);
    std::string out = ",\"name\":" + jsonQuoted(machineName(row)) +
                      ",\"title\":" + jsonQuoted(nameForPeople(row.address)) +
                      ",\"caption\":" + jsonQuoted(row.caption ? row.caption : "") +
                      ",\"effect\":" + (isEffectRegister(row.address) ? "true" : "false");
    switch (node.kind) {
    case LayoutKind::Bar: {
        out += std::string(",\"hideCaption\":") + ((node.flags & kHideCaption) ? "true" : "false");
        out += ",\"positions\":[";
        for (int p = row.min; p <= row.max; ++p) {
            const std::uint8_t value = encodePosition(row, p);
            out += std::string(p == row.min ? "" : ",") + "[" + std::to_string(value) + "," +
                   jsonQuoted(shownValue(row, value)) + "]";
        }
        return out + "]";
    }
    case LayoutKind::Radio:
        out += ",\"choices\":[";
        for (std::size_t i = 0; i < row.choices.size(); ++i)
            out += std::string(i ? "," : "") + "[" + std::to_string(row.choices[i].value) + "," +
                   jsonQuoted(row.choices[i].caption) + "]";
        return out + "]";
    case LayoutKind::Check: {
        const int on = decodeChecked(row, 255) ? 255 : 0;
        return out + ",\"on\":" + std::to_string(on) + ",\"off\":" + std::to_string(255 - on);
    }
    case LayoutKind::FixedMode:
        out += ",\"modes\":[";
        for (int m = kFirstFixedDspMode; m <= kLastFixedDspMode; ++m)
            out += std::string(m == kFirstFixedDspMode ? "" : ",") + "[" + std::to_string(m) +
                   "," + jsonQuoted(shownValue(row, std::uint8_t(m))) + "]";
        return out + "]";
    default: return out;
    }
}

std::string node(std::size_t index)
{
    const LayoutNode &n = windowLayout()[index];
    std::string out = "{\"kind\":\"" + std::string(kindName(n.kind)) + "\"";
    if (n.kind == LayoutKind::Bar || n.kind == LayoutKind::Radio || n.kind == LayoutKind::Check ||
        n.kind == LayoutKind::FixedMode)
        return out + control(n) + "}";
    if (n.caption) out += ",\"caption\":" + jsonQuoted(n.caption);
    if (n.kind != LayoutKind::Row && n.kind != LayoutKind::Column)
        out += ",\"title\":" + jsonQuoted(layoutName(n));
    out += ",\"children\":[";
    bool first = true;
    for (const std::size_t child : layoutChildren(index)) {
        if (windowLayout()[child].kind == LayoutKind::Scale) continue; // the page shows values
        out += (first ? "" : ",") + node(child);
        first = false;
    }
    return out + "]}";
}

// Every Chinese text above in English: names, captions, titles, choices and shown values, as
// one object the pages look their English up in.
std::string glossaryJson()
{
    std::map<std::string, std::string> glossary;
    const auto add = [&glossary](const std::string &text) {
        if (hasChinese(text)) glossary.emplace(text, englishName(text));
    };
    for (const LayoutNode &n : windowLayout()) add(layoutName(n));
    for (const RegisterRow &row : registerMap()) {
        glossary.emplace(nameForPeople(row.address), nameForPeople(row.address, Language::English));
        add(row.caption ? row.caption : "");
        for (const Choice &choice : row.choices) add(choice.caption);
        for (int value = 0; value < 256; ++value)
            if (controlShows(row, std::uint8_t(value)))
                add(shownValue(row, std::uint8_t(value)));
    }
    std::string out = "{";
    for (const auto &[chinese, inEnglish] : glossary)
        out += (out.size() > 1 ? "," : "") + jsonQuoted(chinese) + ":" + jsonQuoted(inEnglish);
    return out + "}";
}

} // namespace

const std::string &layoutJson()
{
    static const std::string json = [] {
        std::string out = "{\"pages\":[";
        bool first = true;
        for (std::size_t i = 0; i < windowLayout().size(); ++i)
            if (windowLayout()[i].kind == LayoutKind::Page) {
                out += (first ? "" : ",") + node(i);
                first = false;
            }
        return out + "],\"english\":" + glossaryJson() + "}";
    }();
    return json;
}

} // namespace zev
