#include "velmora/shared/line_sink.hpp"

#include "binding/objects.hpp"

namespace velmora {

using namespace tavrin;

ListSink::ListSink() : list_(new_list()) {}

void ListSink::close_line() {
  if (!line_) return;
  Ref line = line_->finish();
  line_.reset();
  append(list_.get(), line.get());
}

void ListSink::begin_line() {
  close_line();
  line_.emplace();
}

void ListSink::add(PyObject *item) {
  close_line();
  append(list_.get(), item);
}

Ref ListSink::finish() {
  close_line();
  return std::move(list_);
}

void JoinedLines::add(PyObject *item) {
  if (bad_index_ >= 0) {
    ++count_;
    return;
  }
  if (!PyUnicode_Check(item)) {
    bad_index_ = count_++;
    bad_type_ = Ref::new_reference(reinterpret_cast<PyObject *>(Py_TYPE(item)));
    return;
  }
  begin_line();
  write(item);
}

void JoinedLines::raise_join_error() const {
  if (bad_index_ >= 0) raise_join_item_error(bad_index_, reinterpret_cast<PyTypeObject *>(bad_type_.get()));
}

void HeadedSink::write_heading() {
  started_ = true;
  target_.add_spaced_heading(heading_);
}

}  // namespace velmora
