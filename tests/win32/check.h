// A small test framework for the Win32 tests, which are built with the same
// win32-thread MinGW compiler and the same qor_win library as setup.exe
// (GoogleTest needs std::mutex, which that compiler lacks).
//
//   TEST_CASE(LzReadExpandsSzddFiles) { ... }   registers itself
//   CHECK(cond)              records a failure and goes on
//   CHECK_EQ(actual, expected), CHECK_NE(a, b)
//                            print both expressions and values on failure;
//                            two C strings compare by contents, integers of
//                            mixed signedness by value
//   REQUIRE(cond), REQUIRE_EQ(actual, expected)
//                            as above, but leave the test case at once
//   Any check takes a note:  CHECK_EQ(n, 3) << "reading " << path;
//
// tests/win32/main.cpp runs them all (or those whose name contains a
// --filter text) and ends with the line "N passed, N failed".
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace qortest {

struct TestCase {
  const char* name;
  void (*fn)();
  const char* file;
  int line;
};

inline std::vector<TestCase>& Registry() {
  static std::vector<TestCase> cases;
  return cases;
}

struct Registrar {
  Registrar(const char* name, void (*fn)(), const char* file, int line) {
    Registry().push_back({name, fn, file, line});
  }
};

// Thrown by a failed REQUIRE to leave the test case.
struct RequireFailed {};

// Failed checks of the test case that runs now.
inline int& CurrentFailures() {
  static int failures = 0;
  return failures;
}

// ---- printing values

std::string Quote(std::string_view s);  // C-style escapes; bytes from 0x80 as \xNN

template <class T>
constexpr bool kIsCString = std::is_same_v<std::decay_t<T>, char*> || std::is_same_v<std::decay_t<T>, const char*>;

template <class T>
constexpr bool kIsInteger = std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
                            !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char16_t> &&
                            !std::is_same_v<T, char32_t> && !std::is_same_v<T, char8_t>;

template <class T, class = void>
struct Streamable : std::false_type {};
template <class T>
struct Streamable<T, std::void_t<decltype(std::declval<std::ostream&>() << std::declval<const T&>())>>
    : std::true_type {};

template <class T>
std::string Show(const T& v) {
  using U = std::decay_t<T>;
  if constexpr (std::is_same_v<U, bool>) {
    return v ? "true" : "false";
  } else if constexpr (kIsCString<T>) {
    return v ? Quote(v) : std::string("(null)");
  } else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view>) {
    return Quote(v);
  } else if constexpr (std::is_same_v<U, char>) {
    return Quote(std::string_view(&v, 1));
  } else if constexpr (std::is_enum_v<U>) {
    return Show(static_cast<std::underlying_type_t<U>>(v));
  } else if constexpr (kIsInteger<U>) {
    std::string s = std::to_string(v);
    bool large = v > 9;
    if constexpr (std::is_signed_v<U>) large = large || v < -9;
    if (large) {
      char hex[24];
      std::snprintf(hex, sizeof hex, " (0x%llX)",
                    static_cast<unsigned long long>(static_cast<std::make_unsigned_t<U>>(v)));
      s += hex;
    }
    return s;
  } else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(v));
    return buf;
  } else if constexpr (Streamable<U>::value) {
    std::ostringstream os;
    os << v;
    return os.str();
  } else {
    return "(value)";
  }
}

template <class A, class B>
bool Equal(const A& a, const B& b) {
  if constexpr (kIsCString<A> && kIsCString<B>) {
    const char* x = a;
    const char* y = b;
    return x && y ? std::strcmp(x, y) == 0 : x == y;
  } else if constexpr (kIsInteger<A> && kIsInteger<B>) {
    return std::cmp_equal(a, b);
  } else {
    return a == b;
  }
}

// ---- reporting

// One failed check: collects the note written after the macro and reports
// everything when it goes out of scope (leaving the test for REQUIRE).
class Failure {
 public:
  Failure(const char* file, int line, std::string what, std::string details, bool fatal)
      : file_(file), line_(line), what_(std::move(what)), details_(std::move(details)), fatal_(fatal) {}
  Failure(const Failure&) = delete;
  ~Failure() noexcept(false);

  template <class T>
  Failure& operator<<(const T& v) {
    if constexpr (kIsCString<T> || std::is_same_v<std::decay_t<T>, std::string> ||
                  std::is_same_v<std::decay_t<T>, std::string_view>) {
      note_ << v;
    } else {
      note_ << Show(v);
    }
    return *this;
  }

 private:
  const char* file_;
  int line_;
  std::string what_, details_;
  bool fatal_;
  std::ostringstream note_;
};

struct Outcome {
  bool ok;
  std::string details;
};

template <class A, class B>
Outcome CompareEq(const A& actual, const B& expected, const char* actualText, const char* expectedText) {
  if (Equal(actual, expected)) return {true, {}};
  return {false, std::string("    actual:   ") + actualText + " -> " + Show(actual) + "\n    expected: " +
                     expectedText + " -> " + Show(expected) + "\n"};
}

template <class A, class B>
Outcome CompareNe(const A& a, const B& b, const char* aText, const char* bText) {
  if (!Equal(a, b)) return {true, {}};
  return {false, std::string("    both:     ") + aText + " and " + bText + " -> " + Show(a) + "\n"};
}

}  // namespace qortest

#define QOR_TEST_CAT2(a, b) a##b
#define QOR_TEST_CAT(a, b) QOR_TEST_CAT2(a, b)

#define TEST_CASE(name)                                                                          \
  static void QOR_TEST_CAT(qortest_, name)();                                                    \
  static ::qortest::Registrar QOR_TEST_CAT(qortest_reg_, name)(#name, &QOR_TEST_CAT(qortest_, name), \
                                                               __FILE__, __LINE__);              \
  static void QOR_TEST_CAT(qortest_, name)()

#define QOR_TEST_BOOL(cond, macro, fatal) \
  if (static_cast<bool>(cond)) {          \
  } else                                  \
    ::qortest::Failure(__FILE__, __LINE__, macro "(" #cond ")", std::string(), fatal)

#define QOR_TEST_BINARY(cmp, a, b, macro, fatal)                                   \
  if (::qortest::Outcome qortest_outcome_ = ::qortest::cmp((a), (b), #a, #b);      \
      qortest_outcome_.ok) {                                                       \
  } else                                                                           \
    ::qortest::Failure(__FILE__, __LINE__, macro "(" #a ", " #b ")", qortest_outcome_.details, fatal)

#define CHECK(cond) QOR_TEST_BOOL(cond, "CHECK", false)
#define REQUIRE(cond) QOR_TEST_BOOL(cond, "REQUIRE", true)
#define CHECK_EQ(actual, expected) QOR_TEST_BINARY(CompareEq, actual, expected, "CHECK_EQ", false)
#define REQUIRE_EQ(actual, expected) QOR_TEST_BINARY(CompareEq, actual, expected, "REQUIRE_EQ", true)
#define CHECK_NE(a, b) QOR_TEST_BINARY(CompareNe, a, b, "CHECK_NE", false)
