// The question of each answer.
#pragma once

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/method_table.hpp"

namespace velmora {

// The title of an answer whose question is missing: "第 N 题".
template <class Writer>
void write_fallback_question(Writer &out, tavrin::Borrowed index) {
  out.write_unbroken(tavrin::py_str<"第 ">());
  tavrin::write_decimal(out, index);
  out.write_unbroken(tavrin::py_str<" 题">());
}

// What our own _question_at gives for the answer at `position` (from 1), when
// it is a str: `*question` is then that str, or nullptr for the fallback
// title. False when the step's own checks must speak (a result that is no str,
// questions that are no list): the step is then called.
bool own_question_at(tavrin::Borrowed questions, Py_ssize_t position, PyObject **question);

// The steps of this file.
Ref extract_questions(PyObject *self, Args args);
Ref normalize_question_list(PyObject *self, Args args);
Ref question_at(PyObject *self, Args args);

}  // namespace velmora
