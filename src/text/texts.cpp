// Compiled with -fexec-charset=CP936: every literal here is code page 936 bytes at run time.
#include "text/texts.h"

constexpr std::string_view QuotePlaceholder = "#引号";

constexpr std::string_view FatalErrorTitle = "错误";
constexpr std::string_view FatalErrorHead = "运行时出错!";
constexpr std::string_view FatalErrorCodeHead = "错误代码：";
constexpr std::string_view FatalErrorMessageHead = "错误信息：";
constexpr std::string_view IndexBelowOneMessage = "数组成员引用下标必须大于等于1";
constexpr std::string_view IndexBeyondEndMessage = "数组成员引用下标超出定义范围";
constexpr char AllocationFailedFormat[] = "分配 %zu 字节内存失败!";
