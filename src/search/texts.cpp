// Compiled with -fexec-charset=CP936: every marker here is code page 936 bytes at run time.
#include "search/texts.h"

constexpr std::string_view RegionStart = "</script><br><br>";
constexpr std::string_view RegionEnd = "</script></center><br><script type=";
constexpr std::string_view BlockStart =
    "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' href=\"";
constexpr std::string_view BlockFootStart = "</p><div class=\"other\">";
constexpr std::string_view BlockFootEnd = "</div></div>\r";  // a CR, and no LF in the marker
constexpr std::string_view LinkLabel = "下载地址：";
constexpr std::string_view LinkEnd = "\">";
constexpr std::string_view DownloadRedirect = "?download=";
constexpr std::string_view EmphasisStart = "<em>";
constexpr std::string_view EmphasisEnd = "</em>";
constexpr std::string_view NameStart = "文件名:";
constexpr std::string_view NameEnd = " 文件大小";
// The first "\">" of a block closes its link.
constexpr std::string_view TitleStart = "\">";
constexpr std::string_view TitleEnd = "</a></h2><p>";
constexpr std::string_view SizeStart = "文件大小:";
constexpr std::string_view SizeEnd = " 分享者";
constexpr std::string_view SharerStart = "分享者:";
constexpr std::string_view SharerEnd = " 分享时间";
constexpr std::string_view FolderSize = "文件夹";
