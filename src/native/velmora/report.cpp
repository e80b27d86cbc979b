// The report driver: one section per answer, joined, then tidied.
#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/blank_lines.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Our own collapse of "\n\n".join(sections), written once: the sections are
// fed as they are, without building the joined text first.
Ref collapse_joined(PyObject *sections) {
  const Py_ssize_t count = PyList_GET_SIZE(sections);
  Py_ssize_t length = 0;
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject *section = PyList_GET_ITEM(sections, i);
    if (!PyUnicode_Check(section))
      raise(PyExc_TypeError, "sequence item %zd: expected str instance, %.80s found", i, Py_TYPE(section)->tp_name);
    length += PyUnicode_GET_LENGTH(section) + 2;
  }
  CollapsingWriter writer(length);
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (i) writer.write(py_str<"\n\n">());
    writer.write(PyList_GET_ITEM(sections, i));
  }
  return writer.finish();
}

}  // namespace

Ref format_data(PyObject *self, Args args) {
  PyObject *data = args[0];
  Ref answers = dict_lookup(data, py_str<"answers">());
  if (!PyList_Check(answers.get()) || !is_true(answers.get())) return empty_str();

  Ref questions = call(self, Step::extract_questions, {data});
  Ref sections = new_list();
  Py_ssize_t position = 0;
  for_each(answers.get(), [&](PyObject *answer) {
    Ref index = owned(PyLong_FromSsize_t(++position));
    Ref question = call(self, Step::question_at, {questions.get(), index.get()});
    Ref section = call(self, Step::format_section, {index.get(), answer, question.get()});
    append(sections.get(), section.get());
  });
  Ref non_empty = new_list();
  for_each(sections.get(), [&](PyObject *section) {
    if (is_true(section)) append(non_empty.get(), section);
  });
  if (is_own_step(self, Step::collapse_blank_lines)) return collapse_joined(non_empty.get());
  Ref joined = join(py_str<"\n\n">(), non_empty.get());
  return expect_result(call(self, Step::collapse_blank_lines, {joined.get()}), &PyUnicode_Type);
}

Ref collapse_blank_lines(PyObject *, Args args) {
  CollapsingWriter writer(PyUnicode_GET_LENGTH(args[0]));
  writer.write(args[0]);
  return writer.finish();
}

}  // namespace velmora
