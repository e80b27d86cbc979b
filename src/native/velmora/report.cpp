// The report driver: one section per answer, joined, then tidied.
#include <vector>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

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
  Ref joined = join(py_str<"\n\n">(), non_empty.get());
  return expect_result(call(self, Step::collapse_blank_lines, {joined.get()}), &PyUnicode_Type);
}

Ref collapse_blank_lines(PyObject *, Args args) {
  PyObject *text = args[0];
  const StrView view(text);
  // Kept lines, right-stripped; an empty span stands for one blank line.
  std::vector<Span> kept;
  bool blank = false;
  for_each_splitline(view, [&](Span line) {
    const Span content = view.rstrip(line);
    if (!content.empty()) {
      kept.push_back(content);
      blank = false;
    } else if (!blank) {
      kept.push_back({});
      blank = true;
    }
  });
  while (!kept.empty() && kept.back().empty()) kept.pop_back();

  Py_ssize_t length = kept.empty() ? 0 : static_cast<Py_ssize_t>(kept.size()) - 1;
  for (const Span &line : kept) length += line.size();
  TextWriter writer(length);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i) writer.write_char('\n');
    writer.write(text, kept[i]);
  }
  return writer.finish();
}

}  // namespace velmora
