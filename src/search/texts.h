// The markers of the search service's result pages, as code page 936 bytes. Defined in
// search/texts.cpp, one of the few files compiled to that code page.
#pragma once

#include <string_view>

// The results region.
extern const std::string_view RegionStart;
extern const std::string_view RegionEnd;
// A result block begins with the quote that opens its link's attribute value; its foot is
// BlockFootStart, the share domain, BlockFootEnd.
extern const std::string_view BlockStart;
extern const std::string_view BlockFootStart;
extern const std::string_view BlockFootEnd;
// Put before every block, so that the link reads as a field like the others.
extern const std::string_view LinkLabel;
extern const std::string_view LinkEnd;
extern const std::string_view DownloadRedirect;
extern const std::string_view EmphasisStart;
extern const std::string_view EmphasisEnd;
// The fields of a block, each between its label and the next field's.
extern const std::string_view NameStart;
extern const std::string_view NameEnd;
extern const std::string_view TitleStart;  // the heading's title, when a block has no name line
extern const std::string_view TitleEnd;
extern const std::string_view SizeStart;
extern const std::string_view SizeEnd;
extern const std::string_view SharerStart;
extern const std::string_view SharerEnd;
// The size shown for a share without one: a folder.
extern const std::string_view FolderSize;
