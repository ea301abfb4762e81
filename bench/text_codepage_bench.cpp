// The conversions on a 5 MB body: UTF-8 to code page 936 (every UTF-8 response) and back.
#include "text/codepage.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A UTF-8 page body, about two thirds ASCII markup and one third Chinese text.
ByteBuffer Utf8Body(std::size_t size) {
  const std::u8string piece =
      u8"<div class=\"article\"><h2><a href=\"http://pan.baidu.com/s/1abc\">电影合集</a></h2>"
      u8"<p>文件名:电影合集.rar 文件大小:12.5M 分享者:网友 分享时间:2014-05-01</p></div>\r\n";
  ByteBuffer body;
  body.reserve(size + piece.size());
  while (body.size() < size)
    body.insert(body.end(), piece.begin(), piece.end());
  return body;
}

void Utf8ToGbkBench(benchmark::State& state) {
  const ByteBuffer body = Utf8Body(5 << 20);
  for (auto _ : state)
    benchmark::DoNotOptimize(Utf8ToGbk(body));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(Utf8ToGbkBench)->Unit(benchmark::kMillisecond);

void GbkToUtf8Bench(benchmark::State& state) {
  const ByteBuffer gbk = Utf8ToGbk(Utf8Body(5 << 20));
  const AnsiText text(gbk.begin(), gbk.end());
  for (auto _ : state)
    benchmark::DoNotOptimize(GbkToUtf8(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(GbkToUtf8Bench)->Unit(benchmark::kMillisecond);

void UrlEncodeKeywordBench(benchmark::State& state) {
  const AnsiText keyword = "电影 合集 2014";
  for (auto _ : state)
    benchmark::DoNotOptimize(UrlEncode(keyword, {.asUtf8 = true}));
}
BENCHMARK(UrlEncodeKeywordBench);

}  // namespace
