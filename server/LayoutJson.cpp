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

// A value and its text as a pair, [20, "68dB"].
void pair(JsonWriter &out, int value, const std::string &shown)
{
    out.array().number(value).string(shown).end();
}

void writeControl(JsonWriter &out, const LayoutNode &node)
{
    const RegisterRow &row = *findRegister(node.address);
    out.field("name", machineName(row))
        .field("title", nameForPeople(row.address))
        .field("caption", row.caption ? row.caption : "")
        .flag("effect", isEffectRegister(row.address));
    switch (node.kind) {
    case LayoutKind::Bar:
        out.flag("hideCaption", (node.flags & kHideCaption) != 0).key("positions").array();
        for (int p = row.min; p <= row.max; ++p) {
            const std::uint8_t value = encodePosition(row, p);
            pair(out, value, shownValue(row, value));
        }
        out.end();
        break;
    case LayoutKind::Radio:
        out.key("choices").array();
        for (const Choice &choice : row.choices) pair(out, choice.value, choice.caption);
        out.end();
        break;
    case LayoutKind::Check: {
        const int on = decodeChecked(row, 255) ? 255 : 0;
        out.field("on", on).field("off", 255 - on);
        break;
    }
    case LayoutKind::FixedMode:
        out.key("modes").array();
        for (int m = kFirstFixedDspMode; m <= kLastFixedDspMode; ++m)
            pair(out, m, shownValue(row, std::uint8_t(m)));
        out.end();
        break;
    default: break;
    }
}

void writeNode(JsonWriter &out, std::size_t index)
{
    const LayoutNode &n = windowLayout()[index];
    out.object().field("kind", kindName(n.kind));
    if (n.kind == LayoutKind::Bar || n.kind == LayoutKind::Radio || n.kind == LayoutKind::Check ||
        n.kind == LayoutKind::FixedMode) {
        writeControl(out, n);
        out.end();
        return;
    }
    if (n.caption) out.field("caption", n.caption);
    if (n.kind != LayoutKind::Row && n.kind != LayoutKind::Column) out.field("title", layoutName(n));
    out.key("children").array();
    for (const std::size_t child : layoutChildren(index))
        if (windowLayout()[child].kind != LayoutKind::Scale) // the page shows values
            writeNode(out, child);
    out.end().end();
}

// Every Chinese text above in English: names, captions, titles, choices and shown values, as
// one object the pages look their English up in.
void writeGlossary(JsonWriter &out)
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
    out.object();
    for (const auto &[chinese, inEnglish] : glossary) out.field(chinese, inEnglish);
    out.end();
}

} // namespace

const std::string &layoutJson()
{
    static const std::string json = [] {
        JsonWriter out;
        out.object().key("pages").array();
        for (std::size_t i = 0; i < windowLayout().size(); ++i)
            if (windowLayout()[i].kind == LayoutKind::Page) writeNode(out, i);
        out.end().key("english");
        writeGlossary(out);
        return out.end().take();
    }();
    return json;
}

} // namespace zev
