// Sets of steps, and the one place where each writer of the direct road says
// which steps it stands in for.
//
// A direct-road writer does the work of its steps itself, straight into the
// report, without the lists and dicts that the steps would hand each other.
// That is only what Python would do while every step of its set resolves to
// our own method; any override of one of them sends that part of the report
// down the step road, where each step is called through self.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "velmora/class/method_table.hpp"

namespace velmora {

// One bit per step.
using StepSet = std::uint32_t;

constexpr StepSet step_bit(Step step) { return StepSet{1} << static_cast<unsigned>(step); }
constexpr StepSet step_set(std::initializer_list<Step> steps) {
  StepSet set = 0;
  for (Step step : steps) set |= step_bit(step);
  return set;
}

// format_data writes a section into the report itself: the answer's
// question and its section.
inline constexpr StepSet kSectionSteps = step_set({Step::question_at, Step::format_section});

// The same once the question is known (an override asked for it).
inline constexpr StepSet kSectionStep = step_set({Step::format_section});

// The section writer reads the answer record itself.
inline constexpr StepSet kAnswerBodyStep = step_set({Step::format_answer_body});

// The section writer writes link lines itself: the entry step and its worker.
inline constexpr StepSet kProductLinkSteps = step_set({Step::format_product_links, Step::format_link_items});
inline constexpr StepSet kRecommendedAsinSteps = step_set({Step::format_recommended_asins, Step::format_link_items});

// The answer-body writer: every step from an answer's text and blocks to its
// body lines.
inline constexpr StepSet kAnswerBlockSteps = step_set({
    Step::build_answer_blocks,
    Step::build_structured_answer_blocks,
    Step::normalize_structured_row,
    Step::normalize_row_cells,
    Step::parse_pipe_row,
    Step::build_text_fallback_blocks,
    Step::normalize_text_lines,
    Step::parse_markdown_heading,
    Step::parse_markdown_table,
    Step::is_markdown_delimiter_row,
    Step::parse_markdown_list_item,
    Step::to_structured_blocks,
    Step::render_blocks,
});

// format_data tidies its report where it lies.
inline constexpr StepSet kBlankLineStep = step_set({Step::collapse_blank_lines});

}  // namespace velmora
