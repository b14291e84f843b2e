#include "files/ParameterJson.h"

#include "files/Json.h"
#include "model/Shown.h"

#include <set>
#include <utility>

namespace zev {
namespace {

constexpr const char *kFormat = "zev720-parameters";
constexpr int kVersion = 1;
constexpr std::size_t kSlotHexDigits = 512;
constexpr std::size_t kSlots = std::size_t(kSlotCount);

bool inTransferSet(int address)
{
    return findRegister(std::uint8_t(address)) != nullptr;
}

std::string oneLine(const char *text)
{
    std::string line = text;
    for (char &c : line)
        if (c == '\n') c = ' ';
    return line;
}

std::string hexOf(const RegisterImage &bytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0xF];
    }
    return hex;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "3", "200": an address written plainly, without sign, spaces or leading zeros.
bool plainAddress(const std::string &key, int &address)
{
    if (key.empty() || key.size() > 3 || (key.size() > 1 && key[0] == '0')) return false;
    address = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return false;
        address = address * 10 + (c - '0');
    }
    return address <= 255;
}


// Members other than `known` are refused: a misspelt field would otherwise be ignored.
bool onlyKnownMembers(const JsonValue &object, std::initializer_list<const char *> known,
                      const std::string &where, int &line, std::string &error)
{
    for (const auto &[key, value] : object.members) {
        bool found = false;
        for (const char *name : known)
            found = found || key == name;
        if (!found) {
            line = value.keyLine;
            error = where + "unknown field \"" + key + "\"";
            return false;
        }
    }
    return true;
}

class Reader {
public:
    Reader(const std::string &fileName, std::string &error) : m_file(fileName), m_error(error) {}

    bool refuse(int line, const std::string &what)
    {
        m_error = m_file + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    bool onlyKnown(const JsonValue &object, std::initializer_list<const char *> known,
                   const std::string &where)
    {
        int line = 0;
        return onlyKnownMembers(object, known, where, line, m_error) ||
               refuse(line, std::exchange(m_error, {}));
    }

    bool read(const JsonValue &root, ParameterModel &model)
    {
        if (root.type != JsonValue::Type::Object)
            return refuse(root.line, "not a zev720-parameters document (not an object)");
        const JsonValue *format = root.find("format");
        const JsonValue *version = root.find("version");
        if (!format || format->text != kFormat || format->type != JsonValue::Type::String ||
            !version || !version->isIntegerIn(kVersion, kVersion))
            return refuse(root.line, std::string("not a ") + kFormat + " version " +
                                         std::to_string(kVersion) + " document");
        if (!onlyKnown(root, {"command", "format", "version", "registers", "otherBytes", "slots"},
                       ""))
            return false;
        // zev720ctl names its results by their command; this document is show's.
        const JsonValue *command = root.find("command");
        if (command && (command->type != JsonValue::Type::String || command->text != "show"))
            return refuse(command->line, "command: a parameters document is \"show\"'s");
        return registers(root, model) && otherBytes(root, model) && slots(root, model);
    }

private:
    bool registers(const JsonValue &root, ParameterModel &model)
    {
        const JsonValue *list = root.find("registers");
        if (!list || list->type != JsonValue::Type::Array)
            return refuse(list ? list->line : root.line, "registers: a list of the registers");
        std::set<int> seen;
        for (const JsonValue &item : list->items) {
            if (item.type != JsonValue::Type::Object)
                return refuse(item.line, "registers: each entry is an object");
            RegisterEntry entry;
            int line = item.line;
            std::string what;
            if (!registerFromJson(item, entry, line, what)) return refuse(line, what);
            if (!seen.insert(entry.row->address).second)
                return refuse(line, machineName(*entry.row) + ": given twice");
            model.image[entry.row->address] = entry.value;
        }
        std::string missing;
        for (const RegisterRow &row : registerMap())
            if (!seen.count(row.address))
                missing += (missing.empty() ? "" : ", ") + machineName(row);
        if (!missing.empty()) return refuse(list->line, "registers missing: " + missing);
        return true;
    }

    bool otherBytes(const JsonValue &root, ParameterModel &model)
    {
        const JsonValue *other = root.find("otherBytes");
        if (!other) return true;
        if (other->type != JsonValue::Type::Object)
            return refuse(other->line, "otherBytes: an object of address: value");
        for (const auto &[key, value] : other->members) {
            int address = 0;
            if (!plainAddress(key, address) || inTransferSet(address))
                return refuse(value.keyLine,
                              "otherBytes: '" + key + "' is no address outside the settings");
            if (!value.isIntegerIn(0, 255))
                return refuse(value.keyLine, "otherBytes " + key + ": not a byte (0 to 255)");
            model.image[std::size_t(address)] = std::uint8_t(value.number);
        }
        return true;
    }

    bool slots(const JsonValue &root, ParameterModel &model)
    {
        const JsonValue *list = root.find("slots");
        if (!list || list->type != JsonValue::Type::Array || list->items.size() != kSlots)
            return refuse(list ? list->line : root.line,
                          "slots: " + std::to_string(kSlots) + " slots needed");
        for (std::size_t slot = 0; slot < kSlots; ++slot) {
            const JsonValue &hex = list->items[slot];
            bool ok = hex.type == JsonValue::Type::String && hex.text.size() == kSlotHexDigits;
            for (std::size_t i = 0; ok && i < 256; ++i) {
                const int high = hexDigit(hex.text[2 * i]), low = hexDigit(hex.text[2 * i + 1]);
                ok = high >= 0 && low >= 0;
                if (ok) model.modeSlots[slot][i] = std::uint8_t(high * 16 + low);
            }
            if (!ok)
                return refuse(hex.line, "slot " + std::to_string(slot) + ": not 512 hex digits");
        }
        return true;
    }

    const std::string &m_file;
    std::string &m_error;
};

} // namespace

bool registerFromJson(const JsonValue &item, RegisterEntry &entry, int &line, std::string &error)
{
    const auto refuse = [&](const std::string &what) {
        error = what;
        return false;
    };
    line = item.line;
    if (item.type != JsonValue::Type::Object) return refuse("registers: each entry is an object");
    const JsonValue *name = item.find("name");
    const JsonValue *address = item.find("address");
    line = name ? name->keyLine : address ? address->keyLine : item.line;
    if (name && name->type != JsonValue::Type::String) return refuse("name: not a text");
    if (address && !address->isIntegerIn(0, 255))
        return refuse("address " + address->text + ": not a register address");
    const RegisterRow *row = name      ? findRegisterByName(name->text)
                             : address ? findRegister(std::uint8_t(address->number))
                                       : nullptr;
    if (!name && !address) return refuse("a register without a name or address");
    if (!row || (address && int(address->number) != row->address))
        return refuse("unknown register '" + (name ? name->text : address->text) + "'");
    const std::string label = machineName(*row);
    if (!onlyKnownMembers(item,
                          {"name", "address", "page", "group", "caption", "title", "english", "value",
                           "shown"},
                          label + ": ", line, error))
        return false;
    const JsonValue *value = item.find("value");
    const JsonValue *shown = item.find("shown");
    if (shown && shown->type != JsonValue::Type::String)
        return refuse(label + ": shown: not a text");
    std::uint8_t byte = 0;
    if (value) {
        if (!value->isIntegerIn(0, 255))
            return refuse(label + ": value " +
                          (value->type == JsonValue::Type::Number
                               ? value->text
                               : std::string("that is no number")) +
                          " is not a byte (0 to 255)");
        byte = std::uint8_t(value->number);
        const std::string showing = shownValue(*row, byte);
        // A value no control shows is taken only as show writes it, marked "? 200": read from
        // a unit as it is, never typed by mistake.
        if (showing.rfind("? ", 0) == 0 && !(shown && shown->text == showing))
            return refuse(label + ": value " + value->text +
                          " is no value that this control shows (as it is: \"value\": " +
                          value->text + ", \"shown\": \"" + showing + "\")");
        if (shown && shown->text != showing)
            return refuse(label + ": value " + value->text + " shows \"" + showing +
                          "\", not \"" + shown->text + "\": change both, or give one");
    } else if (shown) {
        const auto showing = valueShowing(*row, shown->text);
        if (!showing) return refuse(label + ": '" + shown->text + "' is no value of this control");
        byte = *showing;
    } else {
        return refuse(label + ": neither a value nor a shown value");
    }
    entry = {row, byte};
    return true;
}

std::string registerToJson(const RegisterRow &row, std::uint8_t value, const std::string &indent)
{
    const Placement where = placementOf(row.address);
    const std::string open = indent.empty() ? "" : "\n" + indent + "    ";
    const std::string colon = indent.empty() ? ":" : ": ";
    std::string out = "{";
    const auto member = [&](const char *key, const std::string &text, bool last = false) {
        out += open + "\"" + key + "\"" + colon + text + (last ? "" : ",");
    };
    member("name", jsonQuoted(machineName(row)));
    member("address", std::to_string(row.address));
    member("page", jsonQuoted(where.page));
    member("group", jsonQuoted(where.group));
    member("caption", jsonQuoted(oneLine(row.caption)));
    member("title", jsonQuoted(nameForPeople(row.address)));
    member("english", jsonQuoted(nameForPeople(row.address, Language::English)));
    member("value", std::to_string(value));
    member("shown", jsonQuoted(shownValue(row, value)), true);
    return out + (indent.empty() ? "}" : "\n" + indent + "}");
}

std::string parametersToJson(const ParameterModel &model)
{
    std::string out = "{\n    \"format\": \"" + std::string(kFormat) +
                      "\",\n    \"version\": " + std::to_string(kVersion) +
                      ",\n    \"registers\": [\n";
    bool first = true;
    for (const RegisterRow &row : registerMap()) {
        out += first ? "" : ",\n";
        first = false;
        out += "        " + registerToJson(row, model.image[row.address], "        ");
    }
    out += "\n    ],\n    \"otherBytes\": {";
    first = true;
    for (int a = 0; a < 256; ++a)
        if (!inTransferSet(a) && model.image[std::size_t(a)] != 0) {
            out += (first ? "\n" : ",\n");
            first = false;
            out += "        \"" + std::to_string(a) +
                   "\": " + std::to_string(model.image[std::size_t(a)]);
        }
    out += first ? "},\n" : "\n    },\n";
    out += "    \"slots\": [\n";
    for (std::size_t slot = 0; slot < kSlots; ++slot)
        out +=
            "        \"" + hexOf(model.modeSlots[slot]) + "\"" + (slot + 1 < kSlots ? ",\n" : "\n");
    out += "    ]\n}\n";
    return out;
}

bool parametersFromJson(std::string_view text, const std::string &fileName, ParameterModel &model,
                        std::string &error)
{
    if (text.size() > kMaxParameterJsonBytes) {
        error = fileName + ": larger than " + std::to_string(kMaxParameterJsonBytes) +
                " bytes: no parameter file's text";
        return false;
    }
    JsonValue root;
    std::string parseError;
    if (!parseJson(text, root, parseError)) {
        error = fileName + ":" + parseError.substr(5); // "line N: ..." as "FILE:N: ..."
        return false;
    }
    ParameterModel made;
    Reader reader(fileName, error);
    if (!reader.read(root, made)) return false;
    model = made;
    return true;
}

} // namespace zev
