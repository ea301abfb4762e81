// ParseResultPage on a 100 KB page of 20 blocks and a 5 MB page of 2000 blocks. With
// PELVARO_PAGE_DIR set the pages are read from page-100k.html and page-5m.html there, so that
// bench/peer/compare.py measures the very bytes its Python peer parses; otherwise pages of the
// same shape are built here.
#include "search/result_page.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view ShareDomain = "pan.baidu.com";

std::string BuildPage(int blocks, std::size_t size) {
  const std::string head =
      "<html><body><center><script type=\"text/javascript\">showAd(1);</script><br><br>\r\n";
  const std::string foot =
      "<script>showAd(2);</script></center><br><script type=\"text/javascript\">pager(1);"
      "</script>\r\n</body></html>\r\n";
  const std::string filler = "这是分享文件的简介，包含<em>关键词</em>与 ASCII text 1234567890。";
  const std::size_t perBlock = (size - head.size() - foot.size()) / blocks;
  std::string page = head;
  for (int i = 0; i < blocks; ++i) {
    std::string block =
        "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' "
        "href=\"?download=http://pan.baidu.com/s/1Share" +
        std::to_string(i) +
        "\"><em>电影</em>合集</a></h2><p>文件名:<em>电影</em>合集.rar 文件大小:12.5M 分享者:网友 "
        "分享时间:2014-05-01 浏览次数:12 ";
    const std::string blockFoot =
        std::string("</p><div class=\"other\">") + std::string(ShareDomain) + "</div></div>\r\n";
    while (block.size() + filler.size() + blockFoot.size() <= perBlock)
      block += filler;
    page += block + blockFoot;
  }
  return page + foot;
}

std::string Page(const char* name, int blocks, std::size_t size) {
  if (const char* directory = std::getenv("PELVARO_PAGE_DIR")) {
    std::ifstream file(std::string(directory) + "/" + name, std::ios::binary);
    if (file) return std::string(std::istreambuf_iterator<char>(file), {});
  }
  return BuildPage(blocks, size);
}

void ParseResultPageBench(benchmark::State& state, const char* name, int blocks, std::size_t size) {
  const std::string page = Page(name, blocks, size);
  std::int32_t rows = 0;
  for (auto _ : state) {
    rows = ParseResultPage(page, ShareDomain,
                           [](const ResultRow& row) { benchmark::DoNotOptimize(&row); });
    benchmark::DoNotOptimize(rows);
  }
  if (rows != blocks) state.SkipWithError("the page gave the wrong number of rows");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
  state.SetLabel(name);
}

BENCHMARK_CAPTURE(ParseResultPageBench, 100k, "page-100k.html", 20, 100 * 1024)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ParseResultPageBench, 5m, "page-5m.html", 2000, 5 * 1024 * 1024)
    ->Unit(benchmark::kMillisecond);

}  // namespace
