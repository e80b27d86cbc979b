// The report driver: one section per answer, joined, then tidied. Where the
// steps of a section are our own, the section writer writes it straight into
// the report.
#include "velmora/steps/report.hpp"

#include <vector>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/direct/section_writer.hpp"
#include "velmora/steps/blank_lines.hpp"
#include "velmora/steps/questions.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// "\n\n".join(section for section in sections if section), written as the
// sections come. A section our own step writes goes straight into the text.
// Once a section handed back by an override is not an exact str, its truth
// and type may run Python code, which must wait until every section is made:
// from there on the sections are held and joined at the end.
class JoinedSections {
 public:
  // The report's line form is followed as it is written, for the blank-line
  // rules at the end.
  JoinedSections() { out_.follow_line_form(); }

  // Lets `write_section(out)` write one non-empty section.
  template <class Write>
  void write(Write &&write_section) {
    if (!held_.empty()) {
      TextWriter section;
      write_section(section);
      held_.push_back(section.finish());
      return;
    }
    separate();
    write_section(out_);
  }

  void add(Ref section) {
    if (held_.empty() && PyUnicode_CheckExact(section.get())) {
      if (PyUnicode_GET_LENGTH(section.get()) == 0) return;
      separate();
      out_.write(section.get());
      return;
    }
    held_.push_back(std::move(section));
  }

  // The writer holding every section, joined.
  TextWriter &finish() {
    std::vector<bool> kept;
    kept.reserve(held_.size());
    for (const Ref &section : held_) kept.push_back(is_true(section.get()));
    for (std::size_t i = 0; i < held_.size(); ++i) {
      if (!kept[i]) continue;
      PyObject *section = held_[i].get();
      if (!PyUnicode_Check(section)) raise_join_item_error(joined_, Py_TYPE(section));
      separate();
      out_.write(section);
    }
    return out_;
  }

 private:
  void separate() {
    if (joined_++) {
      out_.write_char('\n');
      out_.write_char('\n');
    }
  }

  TextWriter out_;
  Py_ssize_t joined_ = 0;
  std::vector<Ref> held_;
};

}  // namespace

Ref format_data(PyObject *instance, Args args) {
  PyObject *data = args[0];
  Ref answers = dict_lookup(data, py_str<"answers">());
  if (!PyList_Check(answers.get()) || !is_true(answers.get())) return empty_str();

  const Self self(instance);
  Ref questions = call(self, Step::extract_questions, {data});
  JoinedSections sections;
  Py_ssize_t position = 0;
  for_each(answers.get(), [&](PyObject *answer) {
    const AnswerNumber number(++position);
    // Both steps our own and the question a str: the section is written with
    // the question as the steps would pass it (the fallback title unmade).
    Ref own_question;
    if (self.resolves_to_own(kSectionSteps) && own_question_at(questions.get(), position, own_question)) {
      sections.write([&](TextWriter &out) { write_section(self, number, answer, own_question.get(), out); });
      return;
    }
    PyObject *index = number.object();
    Ref question = call(self, Step::question_at, {questions.get(), index});
    if (!self.resolves_to_own(kSectionStep)) {
      sections.add(call(self, Step::format_section, {index, answer, question.get()}));
      return;
    }
    run_own_step(instance, Step::format_section, {index, answer, question.get()}, [&](Args valid) {
      sections.write([&](TextWriter &out) { write_section(self, AnswerNumber(valid[0]), valid[1], valid[2], out); });
    });
  });
  TextWriter &joined = sections.finish();
  if (self.resolves_to_own(kBlankLineStep)) return collapsed_in_place(joined);
  Ref text = joined.finish();
  return expect_result(call(self, Step::collapse_blank_lines, {text.get()}), &PyUnicode_Type);
}

}  // namespace velmora
