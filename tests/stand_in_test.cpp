// The stand-in framework itself: the JSON value and the record's load and dump.
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "agent/instance/instance.h"
#include "json_spirit/json_spirit_value.h"

namespace {

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

TEST(Json_Value, EachConstructorMakesItsOwnKind)
{
    const std::string text = "text";
    struct Case {
        const char* what;
        Value value;
        json_spirit::Value_type kind;
    };
    const Case cases[] = {
        {"default", Value(), json_spirit::null_type},
        {"nullptr", Value(nullptr), json_spirit::null_type}, // not a null string
        {"bool", Value(true), json_spirit::bool_type},
        {"int", Value(-7), json_spirit::int_type},
        {"int64", Value(std::int64_t{1} << 40), json_spirit::int_type},
        {"double", Value(0.5), json_spirit::real_type},
        {"literal", Value("true"), json_spirit::str_type}, // never a boolean
        {"empty literal", Value(""), json_spirit::str_type},
        {"std::string", Value(text), json_spirit::str_type},
        {"secure", Value::secure_string("pw"), json_spirit::secure_str_type},
        {"object", Value(Object{{"k", Value(1)}}), json_spirit::obj_type},
        {"array", Value(Array{Value(1), Value("x")}), json_spirit::array_type},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.type(), c.kind) << c.what;
    }
    static_assert(!std::is_constructible_v<Value, const int*>, "a pointer must not become a bool");
}

TEST(Json_Value, AccessorsReturnContentAndNameBothKindsOnMismatch)
{
    EXPECT_TRUE(Value(true).get_bool());
    EXPECT_EQ(Value(-7).get_int(), -7);
    EXPECT_EQ(Value(std::int64_t{1} << 40).get_int64(), std::int64_t{1} << 40);
    EXPECT_EQ(Value(0.5).get_real(), 0.5);
    EXPECT_EQ(Value("a").get_str(), "a");
    EXPECT_EQ(Value::secure_string("pw").get_secure_str(), "pw");
    EXPECT_EQ(Value(Object{{"k", Value(1)}}).get_obj().at("k").get_int(), 1);
    EXPECT_EQ(Value(Array{Value(1)}).get_array().size(), 1U);

    struct Case {
        const char* what;
        void (*read)();
        const char* message;
    };
    const Case cases[] = {
        {"bool from string", [] { (void)Value("true").get_bool(); },
         "json_spirit::Value: expected bool, but the value holds string"},
        {"string from secure string", [] { (void)Value::secure_string("pw").get_str(); },
         "json_spirit::Value: expected string, but the value holds secure string"},
        {"object from null", [] { (void)Value().get_obj(); },
         "json_spirit::Value: expected object, but the value holds null"},
        {"int from real", [] { (void)Value(1.0).get_int(); },
         "json_spirit::Value: expected int, but the value holds real"},
        {"array from bool", [] { (void)Value(false).get_array(); },
         "json_spirit::Value: expected array, but the value holds bool"},
        {"int64 too big for int", [] { (void)Value(std::int64_t{1} << 40).get_int(); },
         "json_spirit::Value: 1099511627776 does not fit in an int"},
        {"null C string", [] { (void)Value(static_cast<const char*>(nullptr)); },
         "json_spirit::Value: a null pointer is not a string"}, // would crash std::string

    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            c.read();
            ADD_FAILURE() << "no exception";
        } catch (const std::exception& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(Json_Value, CopiesAreDeepAndMovesLeaveNull)
{
    Value original(Object{{"list", Value(Array{Value(1), Value("two")})}});
    Value copy = original;
    EXPECT_EQ(copy, original);
    copy.get_obj()["list"].get_array().push_back(Value(3));
    EXPECT_NE(copy, original);
    EXPECT_EQ(original.get_obj().at("list").get_array().size(), 2U);

    Value moved = std::move(copy);
    // A moved-from value is defined to be null.
    EXPECT_TRUE(copy.is_null()); // NOLINT(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
    EXPECT_EQ(moved.get_obj().at("list").get_array().size(), 3U);
    const Value& same = moved;
    moved = same; // self-assignment keeps the value
    EXPECT_EQ(moved.get_obj().size(), 1U);

    // Equal content of different kinds is not equal.
    EXPECT_NE(Value("pw"), Value::secure_string("pw"));
    EXPECT_NE(Value(1), Value(1.0));
    EXPECT_NE(Value(0), Value(false));
}

Object full_record()
{
    return Object{
        {"type", Value("nutanix")},
        {"name", Value("Nutanix_Proxy")},
        {"uuid", Value("u-1")},
        {"options", Value(Object{{"is_proxy", Value(true)}})},
        {"logon_options", Value(Object{{"prism", Value(Object{{"user", Value("admin")}})}})},
    };
}

TEST(Instance_Record, DumpThenLoadGivesTheSameRecord)
{
    Instance record;
    record.load(full_record());
    EXPECT_EQ(record.type, "nutanix");
    EXPECT_EQ(record.logon_options.at("prism").at("user").get_str(), "admin");

    Object dumped{{"extra", Value(1)}};
    record.dump(dumped);
    EXPECT_EQ(dumped.at("extra"), Value(1)); // other keys stay
    dumped.erase("extra");
    EXPECT_EQ(dumped, full_record());
}

TEST(Instance_Record, MalformedLoadThrowsAndLeavesTheRecord)
{
    struct Case {
        const char* what;
        const char* key;
        Value value; // null erases the key
        const char* message;
    };
    const Case cases[] = {
        {"missing", "uuid", Value(), "Instance::load: missing field \"uuid\""},
        {"wrong kind", "name", Value(5), "Instance::load: field \"name\" is int, expected string"},
        {"options not an object", "options", Value(Array{}),
         "Instance::load: field \"options\" is array, expected object"},
        {"logon entry not an object", "logon_options", Value(Object{{"prism", Value("x")}}),
         "Instance::load: logon option \"prism\" is string, expected object"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Instance record;
        record.load(full_record());
        Object bad = full_record();
        if (c.value.is_null()) {
            bad.erase(c.key);
        } else {
            bad[c.key] = c.value;
        }
        try {
            record.load(bad);
            ADD_FAILURE() << "no exception";
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
        Object after;
        record.dump(after);
        EXPECT_EQ(after, full_record());
    }
}

} // namespace
