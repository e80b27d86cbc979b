// Question texts: from the payload's "questions", else from the first upload
// record, with a stable fallback title for answers without one.
#include "velmora/steps/questions.hpp"

#include <cstdint>

#include "velmora/class/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// The text of one raw question item; "" drops it.
Ref question_text(PyObject *item) {
  if (PyUnicode_CheckExact(item)) return strip(item);
  if (PyUnicode_Check(item)) return call_method(item, py_str<"strip">());
  if (!PyDict_Check(item)) return empty_str();
  Ref value = get(item, py_str<"question">());
  if (!is_true(value.get())) {
    value = get(item, py_str<"text">());
    if (!is_true(value.get())) return empty_str();
  }
  return str_stripped(value.get());
}

// The "questions" of the first upload record, or an empty Ref.
Ref upload_record_questions(PyObject *data) {
  Ref upload = dict_lookup(data, py_str<"upload_payload">());
  if (!PyDict_Check(upload.get())) return Ref();
  Ref records = get(upload.get(), py_str<"records">());
  if (!PyList_Check(records.get()) || !is_true(records.get())) return Ref();
  Ref first = owned(PySequence_GetItem(records.get(), 0));
  if (!PyDict_Check(first.get())) return Ref();
  return get(first.get(), py_str<"questions">());
}

}  // namespace

Ref extract_questions(PyObject *instance, Args args) {
  const Self self(instance);
  PyObject *data = args[0];
  Ref raw = dict_lookup(data, py_str<"questions">());
  Ref questions = call(self, Step::normalize_question_list, {raw.get()});
  if (is_true(questions.get())) return expect_result(std::move(questions), &PyList_Type);

  Ref uploaded = upload_record_questions(data);
  if (!uploaded) return new_list();
  return expect_result(call(self, Step::normalize_question_list, {uploaded.get()}), &PyList_Type);
}

Ref normalize_question_list(PyObject *, Args args) {
  PyObject *raw = args[0];
  Ref questions = new_list();
  if (!PyList_Check(raw)) return questions;
  for_each(raw, [&](PyObject *item) {
    Ref text = question_text(item);
    if (is_true(text.get())) append(questions.get(), text.get());
  });
  return questions;
}

bool own_question_at(Borrowed questions, Py_ssize_t position, Ref &question) {
  if (!PyList_CheckExact(questions)) return false;
  question = position <= PyList_GET_SIZE(questions) ? tavrin::list_item(questions, position - 1) : Ref();
  return !question || PyUnicode_CheckExact(question.get());
}

Ref question_at(PyObject *, Args args) {
  PyObject *questions = args[0];
  PyObject *index = args[1];
  int overflow = 0;
  const std::int64_t number = check_value(PyLong_AsLongLongAndOverflow(index, &overflow));
  if (!overflow && number >= 1 && number <= PyList_GET_SIZE(questions)) {
    Ref question = tavrin::list_item(questions, static_cast<Py_ssize_t>(number - 1));
    return expect_result(std::move(question), &PyUnicode_Type);
  }
  TextWriter title;
  write_fallback_question(title, Decimal(index));
  return title.finish();
}

}  // namespace velmora
