#include "http/fetch.h"

#include "http/cookies.h"
#include "http/url.h"
#include "platform/http_session.h"
#include "text/codepage.h"
#include "text/markers.h"
#include "text/text_ops.h"

#include <algorithm>

namespace {

// "301" answers followed one after another by the routine itself; the answer after the last of
// them is taken as it stands, so a server that keeps moving a page cannot keep a call going.
constexpr int MaxFollowedMoves = 10;
constexpr std::int32_t ReadPieceBytes = 1024;
constexpr std::int32_t RawHeaderCapacity = 5000;
// A body larger than this is not taken: the call returns the empty body, as for a failed request.
// A result page is about 100 KB, so this leaves room for pages 80 times that size; and since
// searches overlap without bound, it is what keeps a few hostile servers from filling the 2 GB
// address space of the 32-bit build: a body at the cap, with its conversion and parsing, takes
// some tens of megabytes, so even 20 such searches at once leave most of the space free.
constexpr std::size_t MaxBodyBytes = std::size_t{8} << 20;

constexpr std::string_view Utf8Marker = "charset=utf-8";
// A "charset=utf-8" in the body counts when it starts within this many bytes.
constexpr std::int32_t BodyMarkerWindow = 499;

// The variables one exchange works on: the caller's where supplied, the call's own otherwise.
struct Exchange {
  std::int32_t method;
  const AnsiText& postText;
  AnsiText& cookies;
  bool cookiesSupplied;
  AnsiText& returnedCookies;
  AnsiText& extraHeaders;
  AnsiText& location;
  bool noRedirect;
  ByteBuffer& postBytes;
  const AnsiText* proxy;  // null: not supplied
  AnsiText& rawHeaders;
};

struct Answer {
  ByteBuffer body;
  bool moved = false;  // a "301" to follow, to newAddress
  AnsiText newAddress;
};

// The session, connection and request of one exchange, closed request first.
struct Handles {
  HttpHandle* session = nullptr;
  HttpHandle* connection = nullptr;
  HttpHandle* request = nullptr;

  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() { Close(); }

  void Close() {
    HttpCloseHandle(request);
    HttpCloseHandle(connection);
    HttpCloseHandle(session);
    request = connection = session = nullptr;
  }
};

AnsiText AgentText(const AnsiText& extraHeaders) {
  if (FindText(extraHeaders, "User-Agent:", 1, IgnoreCase) == -1) return DefaultUserAgent;
  AnsiText agent = TrimText(TextBetween(extraHeaders, "User-Agent:", "\r\n"));
  // The agent line is the last one, or blank: the block's first header value stands in.
  if (agent.empty()) agent = HeaderValue(extraHeaders);
  return agent;
}

bool IsHttps(std::string_view address) {
  return CompareText(ToLowerText(TextLeft(address, 5)), "https") == 0;
}

std::uint32_t RequestFlags(std::string_view address, const Exchange& x) {
  std::uint32_t flags = HttpFlagReload | HttpFlagNeedFile;
  if (x.cookiesSupplied) flags |= HttpFlagNoCookies;
  if (x.noRedirect) flags |= HttpFlagNoAutoRedirect;
  flags |= IsHttps(address) ? HttpFlagSecure : HttpFlagIgnoreRedirectToHttps;
  return flags;
}

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Whether sending would put a CR or LF into the request line or a header line other than the
// "\r\n" that ends each line of the header block: an address, a cookie text or a header line
// carrying one would add lines of its own to the request (or end its header block early).
bool WouldAddLines(std::string_view address, std::string_view agent, const Exchange& x) {
  if (HoldsLineBreak(address) || HoldsLineBreak(agent) || HoldsLineBreak(x.cookies)) return true;
  const AnsiText& block = x.extraHeaders;
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\n') return true;
    if (block[i] == '\r') {
      if (i + 1 == block.size() || block[i + 1] != '\n') return true;
      ++i;
    }
  }
  return false;
}

void CompleteHeaders(std::string_view address, const Exchange& x) {
  AnsiText& headers = x.extraHeaders;
  if (FindText(headers, "Referer:") == -1) {
    headers.append(headers.empty() ? "Referer: " : "\r\nReferer: ").append(address);
  }
  if (FindText(headers, "Accept:") == -1) headers.append("\r\nAccept: */*");
  if (FindText(headers, "Accept-Language:") == -1) headers.append("\r\nAccept-Language: zh-cn");
  if (FindText(headers, "Content-Type:") == -1) {
    headers.append("\r\nContent-Type: application/x-www-form-urlencoded");
  }
  if (!x.cookies.empty()) headers.append("\r\nCookie: ").append(x.cookies);
}

// Reads the body to its end in pieces, appending each. The buffer grows with what has arrived,
// never with what a server announces.
ByteBuffer ReadBody(HttpHandle* request) {
  ByteBuffer body;
  std::uint8_t piece[ReadPieceBytes];
  while (const std::uint32_t count = HttpReadFile(request, piece, sizeof piece)) {
    if (body.size() + count > MaxBodyBytes) return {};
    body.insert(body.end(), piece, piece + count);
  }
  return body;
}

// The header block, or 5000 spaces when there is none or it does not fit with its zero byte.
AnsiText RawHeaders(HttpHandle* request) {
  AnsiText raw = BlankText(RawHeaderCapacity);
  auto length = static_cast<std::uint32_t>(raw.size());
  if (HttpQueryRawHeaders(request, raw.data(), &length)) {
    raw.resize(raw.find('\0'));  // a text ends at its first zero byte
  }
  return raw;
}

void Send(HttpHandle* request, const Exchange& x) {
  if (x.method == 0) {
    HttpSendRequest(request, x.extraHeaders, nullptr, 0);
    return;
  }
  if (x.postBytes.empty()) x.postBytes = TextToBytes(x.postText);
  HttpSendRequest(request, x.extraHeaders, x.postBytes.empty() ? nullptr : x.postBytes.data(),
                  static_cast<std::uint32_t>(x.postBytes.size()));
}

Answer FetchOnce(std::string_view address, const Exchange& x, bool mayFollow) {
  const std::string_view verb = x.method == 1 ? "POST" : "GET";
  const AnsiText agent = AgentText(x.extraHeaders);

  Handles h;
  AnsiText proxyList;
  if (x.proxy != nullptr) proxyList = JoinTexts({"http=", *x.proxy});
  h.session = HttpOpenSession(agent, x.proxy != nullptr ? proxyList.c_str() : nullptr);
  if (h.session == nullptr) return {};
  h.connection = HttpConnect(h.session, UrlHost(address), UrlPort(address));
  if (h.connection == nullptr) return {};
  h.request = HttpOpenRequest(h.connection, verb, UrlPath(address), RequestFlags(address, x));
  if (h.request == nullptr) return {};

  CompleteHeaders(address, x);
  // A request whose lines would carry a line break of their own is not sent: the reads and the
  // header query then fail as for a server that cannot be reached.
  if (!WouldAddLines(address, agent, x)) Send(h.request, x);
  Answer answer;
  answer.body = ReadBody(h.request);
  x.rawHeaders = RawHeaders(h.request);
  h.Close();

  const bool moved = ScanResponseHeaders(x.rawHeaders, x.location, x.returnedCookies,
                                         x.cookiesSupplied ? &x.cookies : nullptr);
  // The current path is appended even when the location carries one of its own.
  AnsiText newAddress = moved ? JoinTexts({x.location, UrlPath(address)}) : AnsiText();
  // An https page is never followed to plain http: that "301" answer stands as it is.
  if (mayFollow && moved && (!IsHttps(address) || IsHttps(newAddress))) {
    answer.newAddress = std::move(newAddress);
    x.location.clear();
    answer.body.clear();
    answer.moved = true;
    return answer;
  }
  if (IsUtf8Response(answer.body, x.rawHeaders)) answer.body = Utf8ToGbk(answer.body);
  return answer;
}

}  // namespace

ByteBuffer FetchUrl(std::string_view address, const FetchOptions& options) {
  AnsiText ownCookies, ownReturnedCookies, ownExtraHeaders, ownLocation, ownRawHeaders, ownProxy;
  ByteBuffer ownPostBytes;
  Exchange x{
      .method = options.method,
      .postText = options.postText,
      .cookies = options.cookies != nullptr ? *options.cookies : ownCookies,
      .cookiesSupplied = options.cookies != nullptr,
      .returnedCookies =
          options.returnedCookies != nullptr ? *options.returnedCookies : ownReturnedCookies,
      .extraHeaders = options.extraHeaders != nullptr ? *options.extraHeaders : ownExtraHeaders,
      .location = options.location != nullptr ? *options.location : ownLocation,
      .noRedirect = options.noRedirect,
      .postBytes = options.postBytes != nullptr ? *options.postBytes : ownPostBytes,
      .proxy = options.proxy ? &*options.proxy : nullptr,
      .rawHeaders = options.rawHeaders != nullptr ? *options.rawHeaders : ownRawHeaders,
  };
  AnsiText current(address);
  for (int moves = 0;; ++moves) {
    Answer answer = FetchOnce(current, x, moves < MaxFollowedMoves);
    if (!answer.moved) return std::move(answer.body);
    current = std::move(answer.newAddress);
    // The repeated request counts every optional argument as supplied: it keeps out of the
    // cookie store, merges into the cookies variable and opens its session in proxy mode.
    x.cookiesSupplied = true;
    if (x.proxy == nullptr) x.proxy = &ownProxy;
  }
}

bool ScanResponseHeaders(const AnsiText& rawHeaders, AnsiText& location, AnsiText& returnedCookies,
                         AnsiText* cookies) {
  returnedCookies.clear();
  for (const AnsiText& line : SplitText(rawHeaders, "\r\n")) {
    if (FindText(line, "Location:") != -1) location = HeaderValue(line);
    if (FindText(line, "Set-Cookie") != -1) {
      returnedCookies.append(TrimText(TextBetween(line, "Set-Cookie:", ";"))).append("; ");
    }
  }
  if (cookies != nullptr) MergeCookies(*cookies, returnedCookies);
  if (location.empty()) location = rawHeaders;
  return CompareText(TextBetween(rawHeaders, "HTTP/1.1 ", " Moved"), "301") == 0;
}

bool IsUtf8Response(const ByteBuffer& body, std::string_view rawHeaders) {
  // Only a marker that starts within the window counts, so only the window is searched.
  const ByteBuffer marker = TextToBytes(Utf8Marker);
  const std::int32_t at =
      FindBytes(BytesLeft(body, BodyMarkerWindow + TextLength(Utf8Marker) - 1), marker);
  if (at >= 1 && at <= BodyMarkerWindow) return true;
  return FindText(rawHeaders, Utf8Marker) != -1;
}

AnsiText HeaderValue(std::string_view line) {
  const std::int32_t colon = FindText(line, ":");
  if (colon == -1) return {};
  return TrimText(line.substr(static_cast<std::size_t>(colon)));
}
