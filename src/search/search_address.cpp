#include "search/search_address.h"

#include "text/codepage.h"
#include "text/text_ops.h"

AnsiText SearchAddress(std::string_view host, std::string_view keyword, std::int32_t page) {
  return JoinTexts({"http://", host, "/?q=", UrlEncode(keyword, {.asUtf8 = true}),
                    "&page=", IntToText(page), "&by=prev"});
}
