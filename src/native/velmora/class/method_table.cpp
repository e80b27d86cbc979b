#include "velmora/class/method_table.hpp"

#include "velmora/steps/assembly.hpp"
#include "velmora/steps/blank_lines.hpp"
#include "velmora/steps/conversion.hpp"
#include "velmora/steps/links.hpp"
#include "velmora/steps/questions.hpp"
#include "velmora/steps/recognisers.hpp"
#include "velmora/steps/rendering.hpp"
#include "velmora/steps/report.hpp"
#include "velmora/steps/sections.hpp"
#include "velmora/steps/text_parsing.hpp"

namespace velmora {
namespace {

using tavrin::Param;

constexpr Param kData[] = {{"data", "dict"}};
constexpr Param kRawQuestions[] = {{"raw_questions", "Any"}};
constexpr Param kQuestionAt[] = {{"questions", "list[str]"}, {"index", "int"}};
constexpr Param kFormatSection[] = {{"index", "int"}, {"answer", "Any"}, {"question", "str"}};
constexpr Param kAnswerBody[] = {{"index", "int"}, {"answer", "dict"}};
constexpr Param kRawLinks[] = {{"raw_links", "Any"}};
constexpr Param kRawItems[] = {{"raw_items", "Any"}};
constexpr Param kLinkItems[] = {{"raw_items", "Any"}, {"include_source", "bool", true}};
constexpr Param kAnswerBlocks[] = {{"text", "str"}, {"structured_blocks", "Any"}};
constexpr Param kStructuredBlocks[] = {{"structured_blocks", "list[Any]"}};
constexpr Param kBlock[] = {{"block", "dict"}};
constexpr Param kRowCells[] = {{"row", "list[str]"}, {"width", "int"}};
constexpr Param kText[] = {{"text", "str"}};
constexpr Param kBlocks[] = {{"blocks", "list[dict]"}};
constexpr Param kLine[] = {{"line", "str"}};
constexpr Param kTable[] = {{"lines", "list[str]"}, {"start_index", "int"}};
constexpr Param kCells[] = {{"cells", "list[str]"}};

}  // namespace

const std::array<tavrin::MethodDef, static_cast<std::size_t>(Step::count)> kMethods = {{
    {{"format_data", kData}, "str", "格式化 manager 返回的完整数据。", format_data},
    {{"_extract_questions", kData}, "list[str]", "从全量数据中提取题目文本。", extract_questions},
    {{"_normalize_question_list", kRawQuestions},
     "list[str]",
     "兼容字符串题目与前端 question item。",
     normalize_question_list},
    {{"_question_at", kQuestionAt}, "str", "读取第 N 题文本，缺失时使用稳定兜底。", question_at},
    {{"_format_section", kFormatSection}, "str", "格式化单题 section。", format_section},
    {{"_format_answer_body", kAnswerBody}, "list[str]", "按前端 block 模型格式化答案正文。", format_answer_body},
    {{"_format_product_links", kRawLinks}, "list[str]", "格式化相关产品。", format_product_links},
    {{"_format_recommended_asins", kRawItems}, "list[str]", "格式化推荐 ASIN。", format_recommended_asins},
    {{"_format_link_items", kLinkItems}, "list[str]", "兼容字符串链接和前端链接对象。", format_link_items},
    {{"_build_answer_blocks", kAnswerBlocks},
     "list[dict]",
     "优先使用结构化 blocks，不可渲染时回退解析文本。",
     build_answer_blocks},
    {{"_build_structured_answer_blocks", kStructuredBlocks},
     "list[dict]",
     "按前端结构化 block 规则组装展示块。",
     build_structured_answer_blocks},
    {{"_normalize_structured_row", kBlock}, "list[str] | None", "读取结构化表格行。", normalize_structured_row},
    {{"_normalize_row_cells", kRowCells}, "list[str]", "补齐或合并表格列。", normalize_row_cells},
    {{"_build_text_fallback_blocks", kText},
     "list[dict]",
     "解析 Markdown-like 文本为中间块。",
     build_text_fallback_blocks},
    {{"_to_structured_blocks", kBlocks}, "list[dict]", "将中间块转换为前端结构化 block。", to_structured_blocks},
    {{"_render_blocks", kBlocks}, "list[str]", "将展示块渲染为 Markdown-like 文本。", render_blocks},
    {{"_normalize_text_lines", kText}, "list[str]", "统一换行符。", normalize_text_lines},
    {{"_parse_markdown_heading", kLine}, "dict | None", "解析 Markdown 标题。", parse_markdown_heading},
    {{"_parse_markdown_list_item", kLine}, "dict | None", "解析 Markdown 列表项。", parse_markdown_list_item},
    {{"_parse_markdown_table", kTable},
     "tuple[dict, int] | None",
     "解析带 delimiter 的 Markdown 表格。",
     parse_markdown_table},
    {{"_parse_pipe_row", kLine}, "list[str] | None", "解析管道分隔行。", parse_pipe_row},
    {{"_is_markdown_delimiter_row", kCells}, "bool", "判断是否为 Markdown 表头分隔符。", is_markdown_delimiter_row},
    {{"_collapse_blank_lines", kText}, "str", "压缩连续空行并清理行尾空白。", collapse_blank_lines},
}};

}  // namespace velmora
