// JSON text as people write it (RFC 8259), read strictly and with bounds: the files that
// zev720ctl builds from are edited by hand, so whatever is not plainly meant is refused with
// its line rather than guessed at. No Qt.
//
//   - an object that names a member twice is refused (most readers keep the last silently);
//   - a string with a NUL or another control character, raw or escaped, is refused, and so
//     is text that is not UTF-8;
//   - nesting deeper than kMaxJsonDepth is refused, so no input exhausts the stack;
//   - numbers keep their double value and whether they were written as an integer; a reader
//     checks the range before it converts.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zev {

constexpr int kMaxJsonDepth = 32;

struct JsonMember;

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    bool integer = false; ///< written without a fraction or an exponent
    std::string text;     ///< a string's value (UTF-8), or a number as written
    std::vector<JsonValue> items;
    std::vector<JsonMember> members; ///< in the order written
    int line = 0;                    ///< where the value starts, from 1
    int keyLine = 0;                 ///< a member's value: where its name stands

    /// The member of that name, or nullptr.
    const JsonValue *find(std::string_view name) const;
    /// True when the number is an integer from `min` to `max`.
    bool isIntegerIn(double min, double max) const;
};

struct JsonMember {
    std::string name;
    JsonValue value;
};

/// Parses the whole text; false with `error` ("line 4: ...") at the first problem.
bool parseJson(std::string_view text, JsonValue &root, std::string &error);

/// The text as a JSON string, quotes included, with control characters escaped.
std::string jsonQuoted(std::string_view text);

/// JSON text written value by value: the commas, the quoting and the nesting are its own, so
/// that every object is written by one function that names its members and nothing else.
///
///   JsonWriter out;
///   out.object().field("room", "K05").key("ids").array().number(12).end().end();
///   out.text()  // {"room":"K05","ids":[12]}
class JsonWriter {
public:
    JsonWriter &object();
    JsonWriter &array();
    /// Closes the innermost object or array.
    JsonWriter &end();
    /// The name of the next member of an object.
    JsonWriter &key(std::string_view name);
    JsonWriter &string(std::string_view text);
    JsonWriter &number(long long value);
    JsonWriter &number(double value, int decimals);
    JsonWriter &boolean(bool value);
    JsonWriter &null();
    /// A value that a view of its own wrote whole.
    JsonWriter &raw(std::string_view json);

    JsonWriter &field(std::string_view name, std::string_view text) { return key(name).string(text); }
    JsonWriter &field(std::string_view name, const char *text) { return key(name).string(text); }
    JsonWriter &field(std::string_view name, const std::string &text) { return key(name).string(text); }
    template <typename Integer>
        requires std::is_integral_v<Integer> && (!std::is_same_v<Integer, bool>)
    JsonWriter &field(std::string_view name, Integer value)
    {
        return key(name).number(static_cast<long long>(value));
    }
    JsonWriter &flag(std::string_view name, bool value) { return key(name).boolean(value); }

    const std::string &text() const { return m_out; }
    std::string take() { return std::move(m_out); }

private:
    /// A comma before any value but the first of its object or array, and none after a key.
    void next();
    std::string m_out;
    struct Open {
        char closer;
        bool empty; ///< nothing in it yet
    };
    std::vector<Open> m_open;
    bool m_afterKey = false;
};

/// The length of the UTF-8 sequence at `at` (1 for ASCII), or 0 when it is none: overlong
/// forms, surrogates and code points past U+10FFFF are none.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);
/// Whether the whole text is UTF-8.
bool isUtf8(std::string_view text);

} // namespace zev
