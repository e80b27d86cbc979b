// Declarative signatures and the one argument validation of every method.
//
// A method's parameters are listed with their annotation texts; what a
// parameter must be follows from its annotation:
//   dict, str, list, list[...]  exactly that built-in type (no subclass, no None)
//   int                         converted with int() when it is a number
//   bool                        its truth value
//   anything else (Any)         not tested
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "binding/ref.hpp"

namespace tavrin {

enum class Expect : unsigned char { Any, Dict, Str, List, Int, Truth };

constexpr Expect expect_for(std::string_view annotation) {
  if (annotation == "dict") return Expect::Dict;
  if (annotation == "str") return Expect::Str;
  if (annotation == "int") return Expect::Int;
  if (annotation == "bool") return Expect::Truth;
  if (annotation == "list" || annotation.starts_with("list[")) return Expect::List;
  return Expect::Any;
}

struct Param {
  constexpr Param(const char *name, const char *annotation, bool keyword_only = false)
      : name(name), annotation(annotation), keyword_only(keyword_only), expect(expect_for(annotation)) {}

  const char *name;
  const char *annotation;
  bool keyword_only;
  Expect expect;
};

// `params` excludes the leading `self`, which every method takes.
struct Signature {
  const char *name;
  std::span<const Param> params;
};

inline constexpr std::size_t kMaxParams = 3;

// Are `params` already what validation makes of them (exact dict, str, list
// and int; True or False for a truth value), so that it would change nothing?
bool already_valid(const Signature &signature, std::span<PyObject *const> params);

// The arguments of one call, self first. Values are borrowed from the caller,
// except the results of int() conversions, which are held here.
class Arguments {
 public:
  // Binds a vectorcall to `signature`; raises the interpreter's TypeErrors
  // for wrong counts and keywords.
  void bind(const Signature &signature, PyObject *const *args, size_t nargsf, PyObject *kwnames);
  // Takes values already in signature order (a call made from C++).
  void bind_in_order(PyObject *self, std::span<PyObject *const> params);
  // Conversions first, then type tests, each in parameter order.
  void validate(const Signature &signature);

  PyObject *self() const { return values_[0]; }
  // The parameters after self, in signature order.
  PyObject *const *params() const { return values_.data() + 1; }

 private:
  std::array<PyObject *, kMaxParams + 1> values_{};
  std::array<Ref, kMaxParams + 1> held_{};
};

}  // namespace tavrin
