// The Markdown line patterns, matched by hand on a str's storage. They are
// the `re` patterns "^(#{1,6})\s+(.*)$", "^([-*•])\s+(.*)$", "^\d+[.)]\s+(.*)$"
// and "^:?-{3,}:?$", with `re`'s meaning of \s (str.isspace), \d (any decimal
// digit), "." (anything but "\n") and "$" (the end, or just before a final
// "\n"); tests compare every recogniser with `re` itself.
#include "velmora/shared/line_match.hpp"

namespace velmora {

using namespace tavrin;

namespace {

constexpr Py_UCS4 kBullet = 0x2022;

// "\\d": any decimal digit, ASCII ones first.
bool is_decimal(Py_UCS4 ch) { return ch < 128 ? (ch >= '0' && ch <= '9') : Py_UNICODE_ISDECIMAL(ch); }

// "\s+(.*)$" from `pos` on a stripped line. The whitespace run is taken whole:
// giving any of it back to "(.*)" only lengthens the rest, which must hold no
// "\n" either way (the line ends in non-whitespace, so "$" is its end).
// The result is the rest, already stripped and never empty.
std::optional<Span> text_after_space(const StrView &line, Py_ssize_t pos, Span stripped) {
  if (pos >= stripped.end || !is_space(line[pos])) return std::nullopt;
  const Span rest = line.lstrip({pos, stripped.end});
  if (line.find('\n', rest) >= 0) return std::nullopt;
  return rest;
}

// "^\d+[.)]" then "\s+(.*)$".
std::optional<Span> ordered_item_text(const StrView &line, Span stripped) {
  Py_ssize_t pos = stripped.begin;
  while (pos < stripped.end && is_decimal(line[pos])) ++pos;
  if (pos == stripped.begin || pos == stripped.end) return std::nullopt;
  if (line[pos] != '.' && line[pos] != ')') return std::nullopt;
  return text_after_space(line, pos + 1, stripped);
}

std::optional<Span> list_item_text(const StrView &line, Span stripped) {
  if (stripped.empty()) return std::nullopt;
  const Py_UCS4 first = line[stripped.begin];
  // A bullet is no digit, so a failed bullet item is no numbered item either.
  if (first == '-' || first == '*' || first == kBullet) return text_after_space(line, stripped.begin + 1, stripped);
  return ordered_item_text(line, stripped);
}

// The pieces of line.split("|"), each stripped.
void split_cells(const StrView &text, Span line, std::pmr::vector<Span> &cells) {
  cells.clear();
  Py_ssize_t start = line.begin;
  for (Py_ssize_t pipe = text.find('|', line); pipe >= 0; pipe = text.find('|', {start, line.end})) {
    cells.push_back(text.strip({start, pipe}));
    start = pipe + 1;
  }
  cells.push_back(text.strip({start, line.end}));
}

bool has_content(const StrView &line, std::span<const Span> cells, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last; ++i)
    if (!cells[i].empty() && !line.equals(cells[i], "-")) return true;
  return false;
}

}  // namespace

// "^:?-{3,}:?$" on `cell`; every step is forced, so no backtracking is needed.
bool is_delimiter_text(const StrView &cell, Span span) {
  Py_ssize_t pos = span.begin;
  if (pos < span.end && cell[pos] == ':') ++pos;
  const Py_ssize_t dashes = pos;
  while (pos < span.end && cell[pos] == '-') ++pos;
  if (pos - dashes < 3) return false;
  if (pos < span.end && cell[pos] == ':') ++pos;
  return pos == span.end || (pos + 1 == span.end && cell[pos] == '\n');
}

std::optional<HeadingMatch> match_heading(const StrView &text, Span line) {
  const Span stripped = text.strip(line);
  Py_ssize_t marks = 0;
  while (marks <= 6 && stripped.begin + marks < stripped.end && text[stripped.begin + marks] == '#') ++marks;
  // Seven marks never match: after six the pattern needs whitespace.
  if (marks == 0 || marks > 6) return std::nullopt;
  const std::optional<Span> title = text_after_space(text, stripped.begin + marks, stripped);
  if (!title) return std::nullopt;
  return HeadingMatch{marks, *title};
}

std::optional<Span> match_list_item(const StrView &text, Span line) { return list_item_text(text, text.strip(line)); }

bool match_pipe_row(const StrView &text, Span line, std::pmr::vector<Span> &cells) {
  if (text.find('|', line) < 0) return false;
  split_cells(text, line, cells);
  if (cells.size() < 2) return false;  // no "|" at all
  if (cells.front().empty()) cells.erase(cells.begin());
  if (!cells.empty() && cells.back().empty()) cells.pop_back();
  return cells.size() >= 2 && has_content(text, cells, 0, cells.size());
}

bool is_delimiter_cells(const StrView &text, std::span<const Span> cells) {
  if (cells.empty()) return false;
  for (const Span &cell : cells)
    if (!is_delimiter_text(text, text.strip(cell))) return false;
  return true;
}

}  // namespace velmora
