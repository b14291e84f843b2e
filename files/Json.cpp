#include "files/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zev {

std::size_t utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
    unsigned code = lead & (0x3Fu >> (length - 1));
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool isUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}
namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    bool document(JsonValue &root)
    {
        skipSpace();
        if (!value(root, 0)) return false;
        skipSpace();
        if (m_at < m_text.size()) return fail("text after the end of the document");
        return true;
    }
    const std::string &error() const { return m_error; }

private:
    bool fail(const std::string &what)
    {
        if (m_error.empty()) m_error = "line " + std::to_string(m_line) + ": " + what;
        return false;
    }
    bool atEnd() const { return m_at >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_at]; }

    void skipSpace()
    {
        while (!atEnd()) {
            const char c = m_text[m_at];
            if (c == '\n')
                ++m_line;
            else if (c != ' ' && c != '\t' && c != '\r')
                return;
            ++m_at;
        }
    }

    bool literal(std::string_view word)
    {
        if (m_text.substr(m_at, word.size()) != word) return fail("not JSON here");
        m_at += word.size();
        return true;
    }

    bool value(JsonValue &out, int depth)
    {
        if (depth >= kMaxJsonDepth)
            return fail("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        out.line = m_line;
        switch (peek()) {
        case '{':
            return object(out, depth);
        case '[':
            return array(out, depth);
        case '"':
            out.type = JsonValue::Type::String;
            return string(out.text);
        case 't':
            out.type = JsonValue::Type::Bool;
            out.boolean = true;
            return literal("true");
        case 'f':
            out.type = JsonValue::Type::Bool;
            return literal("false");
        case 'n':
            return literal("null");
        case '\0':
            if (atEnd()) return fail("the text ends where a value belongs");
            [[fallthrough]];
        default:
            if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return number(out);
            return fail(std::string("'") + peek() + "' where a value belongs");
        }
    }

    bool object(JsonValue &out, int depth)
    {
        out.type = JsonValue::Type::Object;
        ++m_at;
        skipSpace();
        if (peek() == '}') {
            ++m_at;
            return true;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"') return fail("a member's name in quotes belongs here");
            const int keyLine = m_line;
            std::string key;
            if (!string(key)) return false;
            for (const auto &member : out.members)
                if (member.name == key) return fail("\"" + key + "\" is given twice");
            skipSpace();
            if (peek() != ':') return fail("':' belongs after \"" + key + "\"");
            ++m_at;
            skipSpace();
            JsonValue member;
            if (!value(member, depth + 1)) return false;
            member.keyLine = keyLine;
            out.members.push_back({std::move(key), std::move(member)});
            skipSpace();
            if (peek() == ',') {
                ++m_at;
                continue;
            }
            if (peek() == '}') {
                ++m_at;
                return true;
            }
            return fail(atEnd() ? "the text ends inside an object" : "',' or '}' belongs here");
        }
    }

    bool array(JsonValue &out, int depth)
    {
        out.type = JsonValue::Type::Array;
        ++m_at;
        skipSpace();
        if (peek() == ']') {
            ++m_at;
            return true;
        }
        for (;;) {
            skipSpace();
            JsonValue item;
            if (!value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            skipSpace();
            if (peek() == ',') {
                ++m_at;
                continue;
            }
            if (peek() == ']') {
                ++m_at;
                return true;
            }
            return fail(atEnd() ? "the text ends inside a list" : "',' or ']' belongs here");
        }
    }

    bool number(JsonValue &out)
    {
        out.type = JsonValue::Type::Number;
        const std::size_t start = m_at;
        auto digits = [&] {
            const std::size_t from = m_at;
            while (peek() >= '0' && peek() <= '9')
                ++m_at;
            return m_at > from;
        };
        if (peek() == '-') ++m_at;
        if (peek() == '0') {
            ++m_at;
        } else if (!digits()) {
            return fail("a number without digits");
        }
        out.integer = true;
        if (peek() == '.') {
            ++m_at;
            out.integer = false;
            if (!digits()) return fail("a number without digits after '.'");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++m_at;
            out.integer = false;
            if (peek() == '+' || peek() == '-') ++m_at;
            if (!digits()) return fail("a number without digits in its exponent");
        }
        out.text = std::string(m_text.substr(start, m_at - start));
        out.number = std::strtod(out.text.c_str(), nullptr);
        if (!std::isfinite(out.number)) return fail("the number " + out.text + " is too large");
        return true;
    }

    bool hex4(unsigned &code)
    {
        code = 0;
        for (int i = 0; i < 4; ++i, ++m_at) {
            const char c = peek();
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= unsigned(c - 'A' + 10);
            else
                return fail("\\u needs four hex digits");
        }
        return true;
    }

    static void appendUtf8(std::string &out, unsigned code)
    {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    bool utf8(std::string &out)
    {
        const std::size_t length = utf8SequenceLength(m_text, m_at);
        if (length == 0) return fail("text that is not UTF-8");
        out.append(m_text.substr(m_at, length));
        m_at += length;
        return true;
    }

    bool string(std::string &out)
    {
        ++m_at; // the opening quote
        for (;;) {
            if (atEnd()) return fail("the text ends inside a string");
            const auto c = static_cast<unsigned char>(m_text[m_at]);
            if (c == '"') {
                ++m_at;
                return true;
            }
            if (c < 0x20 || c == 0x7F) return fail("a control character inside a string");
            if (c >= 0x80) {
                if (!utf8(out)) return false;
                continue;
            }
            if (c != '\\') {
                out += char(c);
                ++m_at;
                continue;
            }
            ++m_at;
            const char e = peek();
            ++m_at;
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                return fail("a control character inside a string");
            case 'u': {
                unsigned code = 0;
                if (!hex4(code)) return false;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    unsigned low = 0;
                    if (m_text.substr(m_at, 2) != "\\u") return fail("half a surrogate pair");
                    m_at += 2;
                    if (!hex4(low)) return false;
                    if (low < 0xDC00 || low > 0xDFFF) return fail("half a surrogate pair");
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    return fail("half a surrogate pair");
                }
                if (code < 0x20 || code == 0x7F) return fail("a control character inside a string");
                appendUtf8(out, code);
                break;
            }
            default:
                return fail("an unknown escape in a string");
            }
        }
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    int m_line = 1;
    std::string m_error;
};

} // namespace

const JsonValue *JsonValue::find(std::string_view name) const
{
    for (const auto &member : members)
        if (member.name == name) return &member.value;
    return nullptr;
}

bool JsonValue::isIntegerIn(double min, double max) const
{
    return type == Type::Number && integer && number >= min && number <= max;
}

bool parseJson(std::string_view text, JsonValue &root, std::string &error)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Parser parser(text);
    root = {};
    if (parser.document(root)) return true;
    error = parser.error();
    root = {};
    return false;
}

std::string jsonQuoted(std::string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void JsonWriter::next()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_open.empty()) {
        if (!m_open.back().empty) m_out += ',';
        m_open.back().empty = false;
    }
}

JsonWriter &JsonWriter::object()
{
    next();
    m_out += '{';
    m_open.push_back({'}', true});
    return *this;
}

JsonWriter &JsonWriter::array()
{
    next();
    m_out += '[';
    m_open.push_back({']', true});
    return *this;
}

JsonWriter &JsonWriter::end()
{
    if (m_open.empty()) return *this;
    m_out += m_open.back().closer;
    m_open.pop_back();
    return *this;
}

JsonWriter &JsonWriter::key(std::string_view name)
{
    next();
    m_out += jsonQuoted(name);
    m_out += ':';
    m_afterKey = true;
    return *this;
}

JsonWriter &JsonWriter::string(std::string_view text)
{
    next();
    m_out += jsonQuoted(text);
    return *this;
}

JsonWriter &JsonWriter::number(long long value)
{
    next();
    m_out += std::to_string(value);
    return *this;
}

JsonWriter &JsonWriter::number(double value, int decimals)
{
    next();
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    m_out += text;
    return *this;
}

JsonWriter &JsonWriter::boolean(bool value)
{
    next();
    m_out += value ? "true" : "false";
    return *this;
}

JsonWriter &JsonWriter::null()
{
    next();
    m_out += "null";
    return *this;
}

JsonWriter &JsonWriter::raw(std::string_view json)
{
    next();
    m_out += json;
    return *this;
}

} // namespace zev
