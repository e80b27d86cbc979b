"""Whole reports of answers that carry front-end blocks and link lists."""

from textwrap import dedent

import pytest
from support import assert_no_leak

from tavrin.amazon_rufus.services.velmora import Velmora

KETTLES = {
    "questions": ["最好的电热水壶？", "How about a grinder?"],
    "answers": [
        {
            "isSuccess": True,
            "text": "not shown: the blocks render",
            "blocks": [
                {"type": "heading", "text": "Top picks", "level": 1},
                {"type": "paragraph", "text": "Two kettles stand out."},
                {"type": "list_item", "text": "Fast boil"},
                {"type": "list_item", "text": "Keep warm"},
                {"type": "table_row", "text": "Model | Price", "cells": ["Model", "Price"]},
                {"type": "table_row", "text": "K1 | $30", "cells": ["K1", "$30"]},
                {"type": "table_row", "text": "K2", "cells": ["K2"]},
            ],
            "productLinks": [{"asin": "B0K1", "title": "Kettle One", "href": "https://a.co/k1", "source": "chat"}, " https://a.co/raw "],
            "recommendedAsins": [{"asin": "B0K2", "source": "rufus"}],
            "summaryText": "  K1 is the pick.  ",
        },
        {"isSuccess": False, "text": "", "blocks": [{"type": "paragraph", "text": "hidden"}]},
    ],
}

KETTLES_REPORT = """\
## 第 1 题：最好的电热水壶？

### 相关产品

- B0K1 - Kettle One
  https://a.co/k1
- https://a.co/raw

### 答案

### Top picks

Two kettles stand out.

- Fast boil
- Keep warm

| Model | Price |
| --- | --- |
| K1 | $30 |
| K2 |  |

### 推荐 ASIN

- B0K2 (rufus)

### 总结

K1 is the pick.

## 第 2 题：How about a grinder?

### 答案

第 2 题未获取到答案"""

GRINDERS = {
    "questions": ["Which grinder?"],
    "answers": [
        {
            "text": "not shown",
            "blocks": [
                "junk",
                {"type": "heading", "text": "Burr grinders", "level": "2"},
                {"type": "list_item", "text": " Conical "},
                {"type": "table_row"},
                {"type": "list_item", "text": "Flat"},
                {"type": "video", "text": "skipped"},
                {"type": "heading", "text": "Deep dive", "level": 12},
                {"type": "table_row", "cells": ["Name", " Burr ", None]},
                {"type": "table_row", "cells": ["G1", "steel"]},
                {"type": "table_row", "cells": ["G2", "ceramic", "40mm", "quiet"]},
            ],
            "productLinks": ("B0X",),
            "recommendedAsins": [" B0G1 ", {"title": "G2 grinder", "href": "https://a.co/g2", "description": "Quiet"}],
        }
    ],
}

GRINDERS_REPORT = """\
## 第 1 题：Which grinder?

### 答案

#### Burr grinders

- Conical

- Flat

###### Deep dive

| Name | Burr |  |
| --- | --- | --- |
| G1 | steel |  |
| G2 | ceramic | 40mm | quiet |

### 推荐 ASIN

- B0G1
- G2 grinder
  https://a.co/g2
  Quiet"""

# Answers without usable blocks: their text decides.
UPLOADED = {
    "upload_payload": {"records": [{"questions": [{"question": " Q one "}, "Q two"]}]},
    "answers": [
        {"text": "  Plain answer.  ", "blocks": []},
        None,
        {"blocks": [{"type": "table_row", "text": "Only | row"}], "summaryText": "S"},
    ],
}

UPLOADED_REPORT = """\
## 第 1 题：Q one

### 答案

Plain answer.

## 第 2 题：Q two

### 答案

第 2 题未获取到答案

## 第 3 题：第 3 题

### 答案

Only | row

### 总结

S"""


@pytest.mark.parametrize(
    "payload, report", [(KETTLES, KETTLES_REPORT), (GRINDERS, GRINDERS_REPORT), (UPLOADED, UPLOADED_REPORT)], ids=["kettles", "grinders", "uploaded"]
)
def test_reports(velmora, payload, report):
    assert velmora.format_data(payload) == report


class SplitRows(Velmora):
    def _parse_pipe_row(self, line):
        cells = [cell.strip() for cell in line.split("|")]
        return cells if len(cells) > 1 else None


def test_text_rows_through_an_overridden_pipe_parser():
    payload = {
        "answers": [
            {"blocks": [{"type": "table_row", "text": "Size | Watts"}, {"type": "table_row", "text": " 1.7L | 1500 | quiet "}, {"type": "table_row", "text": "no pipes"}]}
        ]
    }
    assert SplitRows().format_data(payload) == dedent(
        """\
        ## 第 1 题：第 1 题

        ### 答案

        | Size | Watts |
        | --- | --- |
        | 1.7L | 1500 | quiet |

        no pipes"""
    )


def test_report_without_leaks(velmora):
    assert_no_leak(lambda: velmora.format_data(KETTLES))
    assert_no_leak(lambda: velmora.format_data(GRINDERS))
