// Marker extraction and batch replacement, on which the parsing of pages, addresses and headers
// rests. Both search with ASCII letter case ignored unless asked otherwise.
#pragma once

#include "text/text_value.h"
#include "text/texts.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <utility>

// The text between the first leftMarker found from startPos (below 1 means 1) and the first
// rightMarker after it; empty when either is missing. "#引号" in a marker is a double quote.
AnsiText TextBetween(std::string_view text, std::string_view leftMarker,
                     std::string_view rightMarker, std::int32_t startPos = 0,
                     bool matchCase = false);

// Every member has an initializer, so designated initializers may leave any of them out.
struct ReplacePairsOptions {
  // Most replacements per pair. Not supplied, or supplied negative: every occurrence.
  std::optional<std::int32_t> count = std::nullopt;
  std::int32_t startPos = 1;  // first byte that may be replaced; below 1 means 1
  bool matchCase = false;
};

using ReplacePair = std::pair<std::string_view, std::string_view>;  // find, replacement

// Applies the pairs one after another, each to the result of the one before. A pair with an
// empty find text changes nothing.
AnsiText ReplacePairs(std::string_view text, std::initializer_list<ReplacePair> pairs,
                      const ReplacePairsOptions& options = {});
