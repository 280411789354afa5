// json_spirit_value.h - the agent's JSON value, as the plug-ins see it.
//
// A Value holds exactly one of eight kinds (Value_type). Objects are ordered
// maps from name to Value, arrays are vectors of Value. A secure string is a
// string kind of its own, for passwords and tokens: get_str() refuses it, so
// a secret is only ever read through get_secure_str().
//
// The whole library is header-only: a plug-in compiled against it carries its
// own copy of every function and shares only the standard library's types
// with the host.
#ifndef JSON_SPIRIT_VALUE_H
#define JSON_SPIRIT_VALUE_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace json_spirit {

enum Value_type {
    obj_type = 0,
    array_type = 1,
    str_type = 2,
    secure_str_type = 3,
    bool_type = 4,
    int_type = 5,
    real_type = 6,
    null_type = 7,
};

/// The kind's name as error messages show it ("object", "secure string", ...).
inline const char* value_type_name(Value_type type) noexcept
{
    switch (type) {
    case obj_type: return "object";
    case array_type: return "array";
    case str_type: return "string";
    case secure_str_type: return "secure string";
    case bool_type: return "bool";
    case int_type: return "int";
    case real_type: return "real";
    case null_type: return "null";
    }
    return "unknown";
}

class Value;
using Object = std::map<std::string, Value>;
using Array = std::vector<Value>;

/// Every constructor is explicit: a value's kind is always written out.
class Value {
public:
    /// A null value.
    Value() noexcept = default;
    /// A boolean; allocates nothing.
    explicit Value(bool value) noexcept : data_(std::in_place_index<bool_type>, value) {}
    explicit Value(int value) noexcept : data_(std::in_place_index<int_type>, value) {}
    explicit Value(std::int64_t value) noexcept : data_(std::in_place_index<int_type>, value) {}
    explicit Value(double value) noexcept : data_(std::in_place_index<real_type>, value) {}
    /// A string. A literal picks this overload, never the boolean one; a null
    /// pointer throws std::invalid_argument.
    explicit Value(const char* value) : data_(std::in_place_index<str_type>, checked(value)) {}
    /// A null value, so that Value(nullptr) is not a null string.
    explicit Value(std::nullptr_t) noexcept {}
    // cppcheck-suppress passedByValue ; a sink: the string is moved in
    explicit Value(std::string value) noexcept
        : data_(std::in_place_index<str_type>, std::move(value))
    {
    }
    explicit Value(Object value);
    explicit Value(Array value);
    /// Any other pointer would silently become a boolean; refuse it instead.
    template <class T>
    explicit Value(const T*) = delete;

    /// A secure string holding `text`.
    static Value secure_string(std::string text)
    {
        Value value;
        value.data_.emplace<secure_str_type>(Secret{std::move(text)});
        return value;
    }

    Value(const Value& other);
    /// A moved-from value is null.
    // NOLINTNEXTLINE(bugprone-exception-escape): no alternative throws on move
    Value(Value&& other) noexcept : data_(std::move(other.data_)) { other.reset(); }
    Value& operator=(const Value& other);
    // NOLINTNEXTLINE(bugprone-exception-escape): no alternative throws on move
    Value& operator=(Value&& other) noexcept
    {
        if (this != &other) {
            data_ = std::move(other.data_);
            other.reset();
        }
        return *this;
    }
    ~Value() = default;

    Value_type type() const noexcept { return static_cast<Value_type>(data_.index()); }
    bool is_null() const noexcept { return type() == null_type; }

    // Each accessor throws std::runtime_error naming both kinds when the value
    // holds another kind. get_int() also throws when the number does not fit.
    bool get_bool() const { return get<bool_type>(); }
    std::int64_t get_int64() const { return get<int_type>(); }
    int get_int() const;
    double get_real() const { return get<real_type>(); }
    const std::string& get_str() const { return get<str_type>(); }
    const std::string& get_secure_str() const { return get<secure_str_type>().text; }
    const Object& get_obj() const { return *get<obj_type>(); }
    Object& get_obj() { return *get<obj_type>(); }
    const Array& get_array() const { return *get<array_type>(); }
    Array& get_array() { return *get<array_type>(); }

    friend bool operator==(const Value& a, const Value& b);
    friend bool operator!=(const Value& a, const Value& b) { return !(a == b); }

private:
    struct Secret {
        std::string text;
    };
    // Alternatives stand in Value_type order, so the index is the kind.
    using Data = std::variant<std::unique_ptr<Object>, std::unique_ptr<Array>, std::string, Secret,
                              bool, std::int64_t, double, std::monostate>;

    static const char* checked(const char* text)
    {
        if (text == nullptr) {
            throw std::invalid_argument("json_spirit::Value: a null pointer is not a string");
        }
        return text;
    }

    // NOLINTNEXTLINE(bugprone-exception-escape): constructing std::monostate cannot throw
    void reset() noexcept { data_.emplace<null_type>(); }

    [[noreturn]] void throw_kind_mismatch(Value_type wanted) const
    {
        throw std::runtime_error(std::string("json_spirit::Value: expected ") +
                                 value_type_name(wanted) + ", but the value holds " +
                                 value_type_name(type()));
    }

    template <std::size_t Kind>
    const std::variant_alternative_t<Kind, Data>& get() const
    {
        if (data_.index() != Kind) {
            throw_kind_mismatch(static_cast<Value_type>(Kind));
        }
        return *std::get_if<Kind>(&data_);
    }

    Data data_{std::in_place_index<null_type>};
};

inline Value::Value(Object value)
    : data_(std::in_place_index<obj_type>, std::make_unique<Object>(std::move(value)))
{
}

inline Value::Value(Array value)
    : data_(std::in_place_index<array_type>, std::make_unique<Array>(std::move(value)))
{
}

inline Value::Value(const Value& other)
{
    switch (other.type()) {
    case obj_type: data_.emplace<obj_type>(std::make_unique<Object>(other.get_obj())); break;
    case array_type: data_.emplace<array_type>(std::make_unique<Array>(other.get_array())); break;
    case str_type: data_.emplace<str_type>(other.get_str()); break;
    case secure_str_type: data_.emplace<secure_str_type>(Secret{other.get_secure_str()}); break;
    case bool_type: data_.emplace<bool_type>(other.get_bool()); break;
    case int_type: data_.emplace<int_type>(other.get_int64()); break;
    case real_type: data_.emplace<real_type>(other.get_real()); break;
    case null_type: break;
    }
}

inline Value& Value::operator=(const Value& other)
{
    if (this != &other) {
        Value copy(other);
        *this = std::move(copy);
    }
    return *this;
}

inline int Value::get_int() const
{
    const std::int64_t value = get_int64();
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        throw std::runtime_error("json_spirit::Value: " + std::to_string(value) +
                                 " does not fit in an int");
    }
    return static_cast<int>(value);
}

inline bool operator==(const Value& a, const Value& b)
{
    if (a.type() != b.type()) {
        return false;
    }
    switch (a.type()) {
    case obj_type: return a.get_obj() == b.get_obj();
    case array_type: return a.get_array() == b.get_array();
    case str_type: return a.get_str() == b.get_str();
    case secure_str_type: return a.get_secure_str() == b.get_secure_str();
    case bool_type: return a.get_bool() == b.get_bool();
    case int_type: return a.get_int64() == b.get_int64();
    case real_type: return a.get_real() == b.get_real();
    case null_type: return true;
    }
    return false;
}

} // namespace json_spirit

#endif // JSON_SPIRIT_VALUE_H
