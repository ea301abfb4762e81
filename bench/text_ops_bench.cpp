// Throughput of the character-scan operations over page-sized and much larger texts. Each case
// runs at 1 MB and 10 MB; the 10 MB figure should take about ten times as long.
#include "text/markers.h"
#include "text/text_ops.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

namespace {

// Result-page-like lines that mix ASCII markup with two-byte characters, some of whose trail bytes
// are ASCII letters and digits, so the scan cannot treat the text as plain ASCII.
AnsiText MixedText(std::size_t size) {
  AnsiText text;
  text.reserve(size + 128);
  for (int line = 0; text.size() < size; ++line) {
    text += "<li><a href=\"/s/1AbC";
    text += IntToText(line);
    text += "\">资料合集<EM>第";
    text += IntToText(line % 97);
    text += "部</em> Part</a><span>大小：1.5GB 共享者：百度用户</span></li>\r\n";
  }
  text.resize(size);
  return text;
}

// The marker sits at the very end, so the whole text is scanned.
AnsiText TextEndingWith(std::size_t size, std::string_view marker) {
  AnsiText text = MixedText(size - marker.size());
  text += marker;
  return text;
}

void SetProcessed(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes));
}

constexpr std::size_t MB = std::size_t{1} << 20;

void BM_FindText(benchmark::State& state) {
  const AnsiText text = TextEndingWith(static_cast<std::size_t>(state.range(0)), "<div id=end>");
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindText(text, "<div id=end>"));
  }
  SetProcessed(state, text.size());
}

void BM_FindTextIgnoreCase(benchmark::State& state) {
  const AnsiText text = TextEndingWith(static_cast<std::size_t>(state.range(0)), "<DIV ID=END>");
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindText(text, "<div id=end>", 1, true));
  }
  SetProcessed(state, text.size());
}

void BM_FindTextChinese(benchmark::State& state) {
  const AnsiText text = TextEndingWith(static_cast<std::size_t>(state.range(0)), "没有更多了");
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindText(text, "没有更多了"));
  }
  SetProcessed(state, text.size());
}

// A sought text that almost matches everywhere: a scan that compares it afresh at every start
// costs the text's length times its own.
void BM_FindTextRepetitive(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const AnsiText sought = AnsiText(1000, 'a') + "b";
  const AnsiText text = AnsiText(size - sought.size(), 'a') + sought;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindText(text, sought));
  }
  SetProcessed(state, text.size());
}

void BM_ReplaceText(benchmark::State& state) {
  const AnsiText text = MixedText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReplaceText(text, "<em>", "", 1, -1, false));
  }
  SetProcessed(state, text.size());
}

void BM_SplitText(benchmark::State& state) {
  const AnsiText text = MixedText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(SplitText(text, "\r\n"));
  }
  SetProcessed(state, text.size());
}

void BM_TextBetween(benchmark::State& state) {
  const AnsiText text = TextEndingWith(static_cast<std::size_t>(state.range(0)),
                                       "<div class=\"more\">没有更多了</div>");
  for (auto _ : state) {
    benchmark::DoNotOptimize(TextBetween(text, "<DIV class=#引号more#引号>", "</div>"));
  }
  SetProcessed(state, text.size());
}

void BM_ReplacePairs(benchmark::State& state) {
  const AnsiText text = MixedText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReplacePairs(
        text, {{"<em>", ""}, {"</em>", ""}, {"大小：", ""}, {"共享者：", ""}, {"\r\n", "\n"}}));
  }
  SetProcessed(state, text.size());
}

}  // namespace

BENCHMARK(BM_FindText)->Arg(MB)->Arg(10 * MB);
BENCHMARK(BM_FindTextIgnoreCase)->Arg(MB)->Arg(10 * MB);
BENCHMARK(BM_FindTextChinese)->Arg(MB)->Arg(10 * MB);
BENCHMARK(BM_FindTextRepetitive)->Arg(MB)->Arg(10 * MB);
BENCHMARK(BM_ReplaceText)->Arg(MB)->Arg(10 * MB);
BENCHMARK(BM_SplitText)->Arg(MB)->Arg(10 * MB);
BENCHMARK(BM_TextBetween)->Arg(MB)->Arg(10 * MB);
BENCHMARK(BM_ReplacePairs)->Arg(MB)->Arg(10 * MB);
