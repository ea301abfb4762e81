// Compiled with -fexec-charset=CP936: every literal here is code page 936 bytes at run time.
#include "app/texts.h"

constexpr std::string_view EmptyKeywordMessage = "你不输入内容我怎么搜！逗我？";
constexpr std::string_view EmptyKeywordTitle = "靠";
constexpr std::string_view NoResultsMessage = "你的搜索涉及敏感词汇，或者需要更新，请联系作者";
constexpr std::string_view ContactPrefix = "QQ";
constexpr std::string_view NoResultsTitle = "信息：";
constexpr std::string_view WindowFailedMessage = "载入启动窗口失败";
