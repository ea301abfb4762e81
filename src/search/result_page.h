// Turns one result page of the search service into its hits.
#pragma once

#include "text/text_value.h"

#include <cstdint>
#include <functional>
#include <string_view>

// One hit, shown in the table's columns "名称", "大小", "共享者", "地址".
struct ResultRow {
  AnsiText fileName;
  AnsiText size;  // as the page prints it, or "文件夹"
  AnsiText sharer;
  AnsiText link;
};

// Delivers the rows of the page's result blocks one at a time, in page order, each before the next
// block is processed, and returns the number of blocks (equal to the rows delivered). A page
// without its results region or without complete blocks gives 0. shareDomain is the domain every
// block's foot names; a block ends there.
std::int32_t ParseResultPage(std::string_view pageText, std::string_view shareDomain,
                             const std::function<void(const ResultRow&)>& deliver);
