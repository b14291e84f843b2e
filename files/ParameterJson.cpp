#include "files/ParameterJson.h"

#include "files/Json.h"
#include "model/Shown.h"

#include <set>

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

class Reader {
public:
    Reader(const std::string &fileName, std::string &error) : m_file(fileName), m_error(error) {}

    bool refuse(int line, const std::string &what)
    {
        m_error = m_file + ":" + std::to_string(line) + ": " + what;
        return false;
    }

    // Members other than `known` are refused: a misspelt field would otherwise be ignored.
    bool onlyKnown(const JsonValue &object, std::initializer_list<const char *> known,
                   const std::string &where)
    {
        for (const auto &[key, value] : object.members) {
            bool found = false;
            for (const char *name : known)
                found = found || key == name;
            if (!found) return refuse(value.keyLine, where + "unknown field \"" + key + "\"");
        }
        return true;
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
        if (!onlyKnown(root, {"format", "version", "registers", "otherBytes", "slots"}, ""))
            return false;
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
            const JsonValue *name = item.find("name");
            const JsonValue *address = item.find("address");
            const int line = name ? name->keyLine : address ? address->keyLine : item.line;
            if (name && name->type != JsonValue::Type::String)
                return refuse(line, "name: not a text");
            if (address && !address->isIntegerIn(0, 255))
                return refuse(line, "address " + address->text + ": not a register address");
            const RegisterRow *row = name      ? findRegisterByName(name->text)
                                     : address ? findRegister(std::uint8_t(address->number))
                                               : nullptr;
            if (!name && !address) return refuse(line, "a register without a name or address");
            if (!row || (address && int(address->number) != row->address))
                return refuse(line,
                              "unknown register '" + (name ? name->text : address->text) + "'");
            const std::string label = machineName(*row);
            if (!seen.insert(row->address).second) return refuse(line, label + ": given twice");
            if (!onlyKnown(
                    item,
                    {"name", "address", "page", "group", "caption", "title", "value", "shown"},
                    label + ": "))
                return false;
            const JsonValue *value = item.find("value");
            const JsonValue *shown = item.find("shown");
            if (shown && shown->type != JsonValue::Type::String)
                return refuse(line, label + ": shown: not a text");
            std::uint8_t byte = 0;
            if (value) {
                if (!value->isIntegerIn(0, 255))
                    return refuse(line, label + ": value " +
                                            (value->type == JsonValue::Type::Number
                                                 ? value->text
                                                 : std::string("that is no number")) +
                                            " is not a byte (0 to 255)");
                byte = std::uint8_t(value->number);
                const std::string showing = shownValue(*row, byte);
                if (showing.rfind("? ", 0) == 0)
                    return refuse(line, label + ": value " + value->text +
                                            " is no value that this control shows");
                if (shown && shown->text != showing)
                    return refuse(line, label + ": value " + value->text + " shows \"" + showing +
                                            "\", not \"" + shown->text +
                                            "\": change both, or give one");
            } else if (shown) {
                const auto showing = valueShowing(*row, shown->text);
                if (!showing)
                    return refuse(line,
                                  label + ": '" + shown->text + "' is no value of this control");
                byte = *showing;
            } else {
                return refuse(line, label + ": neither a value nor a shown value");
            }
            model.image[row->address] = byte;
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

std::string parametersToJson(const ParameterModel &model)
{
    std::string out = "{\n    \"format\": \"" + std::string(kFormat) +
                      "\",\n    \"version\": " + std::to_string(kVersion) +
                      ",\n    \"registers\": [\n";
    bool first = true;
    for (const RegisterRow &row : registerMap()) {
        const Placement where = placementOf(row.address);
        const std::uint8_t value = model.image[row.address];
        out += first ? "" : ",\n";
        first = false;
        out += "        {\n";
        out += "            \"name\": " + jsonQuoted(machineName(row)) + ",\n";
        out += "            \"address\": " + std::to_string(row.address) + ",\n";
        out += "            \"page\": " + jsonQuoted(where.page) + ",\n";
        out += "            \"group\": " + jsonQuoted(where.group) + ",\n";
        out += "            \"caption\": " + jsonQuoted(oneLine(row.caption)) + ",\n";
        out += "            \"title\": " + jsonQuoted(nameForPeople(row.address)) + ",\n";
        out += "            \"value\": " + std::to_string(value) + ",\n";
        out += "            \"shown\": " + jsonQuoted(shownValue(row, value)) + "\n";
        out += "        }";
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
