// The question of each answer.
#pragma once

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/method_table.hpp"

namespace velmora {

// The number of an answer: its index as the steps pass it, an int object
// made only when a step called through self needs one, and its digits.
class AnswerNumber {
 public:
  // The answer at `position` of the report, from 1.
  explicit AnswerNumber(Py_ssize_t position) : position_(position), digits_(std::int64_t{position}) {}
  // An index handed to a step, validated as an exact int.
  explicit AnswerNumber(tavrin::Borrowed index) : object_(Ref::new_reference(index)), digits_(index) {}

  PyObject *object() const {
    if (!object_) object_ = tavrin::owned(PyLong_FromSsize_t(position_));
    return object_.get();
  }
  const tavrin::Decimal &digits() const { return digits_; }

 private:
  Py_ssize_t position_ = 0;
  mutable Ref object_;
  tavrin::Decimal digits_;
};

// The title of an answer whose question is missing: "第 N 题".
template <class Writer>
void write_fallback_question(Writer &out, const tavrin::Decimal &number) {
  out.write_unbroken(tavrin::py_str<"第 ">());
  number.write_to(out);
  out.write_unbroken(tavrin::py_str<" 题">());
}

// What our own _question_at gives for the answer at `position` (from 1), when
// it is a str: `question` is then that str, or empty for the fallback
// title. False when the step's own checks must speak (a result that is no str,
// questions that are no list): the step is then called.
bool own_question_at(tavrin::Borrowed questions, Py_ssize_t position, Ref &question);

// The steps of this file.
Ref extract_questions(PyObject *self, Args args);
Ref normalize_question_list(PyObject *self, Args args);
Ref question_at(PyObject *self, Args args);

}  // namespace velmora
