#!/usr/bin/env python3
"""Pelvaro's sample search service: a loopback HTTP server that answers search requests with
result pages in the service's format, from a small catalogue of sample shares, so that a fresh
checkout shows the whole flow offline and the end-to-end tests have something to talk to.

    GET /?q=<percent-encoded UTF-8 keyword>&page=<n>&by=prev   one result page, 10 hits a page
    GET /support                                               the browser panel's start page
    GET /support/thanks                                        the page its link opens

Standard library only; runs on any Python 3.9 or later.
"""

import argparse
import html
import http.server
import ipaddress
import socket
import sys
import threading
import time
import urllib.parse
from typing import NamedTuple, Optional

PAGE_SIZE = 10


class Share(NamedTuple):
    name: str
    size: Optional[str]  # "" prints an empty size (a folder); None leaves the size field out
    sharer: str
    date: str
    code: str  # the share's path on the storage service
    via_download: bool = False  # the link goes through the index's "?download=" redirect


CATALOGUE = [
    Share("流浪地球2.2023.HD1080P.国语中字.mp4", "2.61G", "影视小站", "2023-04-12", "1aF3kLm9"),
    Share("流浪地球.2019.4K.HDR.mkv", "18.3G", "影视小站", "2022-11-05", "1bQ8xZp2"),
    Share("电影合集 经典华语电影100部", "", "老电影迷", "2021-06-30", "1cR2vBn7"),
    Share("电影原声 Hans Zimmer 精选.flac", "1.02G", "musicbox", "2020-09-14", "1dT5yHj4"),
    Share("周星驰电影全集 国语版", "", "星爷粉丝", "2019-12-25", "1eU7wGk1", True),
    Share("2024年最新电影 合集", None, "每日更新", "2024-01-03", "1fV9sDf6"),
    Share("宫崎骏动画电影 Ghibli Collection", "46.7G", "totoro", "2022-03-18", "1gW1qAs3"),
    Share("纪录片 地球脉动 Planet Earth II.mkv", "35.2G", "自然频道", "2021-08-08", "1hX4pZo8"),
    Share("Ubuntu 22.04.3 LTS desktop amd64.iso", "4.7G", "linuxfan", "2023-08-10", "1iY6oXi5"),
    Share("ubuntu-20.04-server-arm64.iso", "1.2G", "linuxfan", "2020-04-23", "1jZ8nCu0"),
    Share("UBUNTU 使用手册 第三版.pdf", "12.4M", "开源社区", "2021-02-02", "1kA0mVy2", True),
    Share("Debian 12 bookworm netinst.iso", "628M", "linuxfan", "2023-06-10", "1lB2lBt9"),
    Share("Linux 内核设计与实现.pdf", "8.9M", "程序员小王", "2018-05-19", "1mC4kNr7"),
    Share("Python 编程 从入门到实践 第二版.pdf", "26.1M", "程序员小王", "2020-10-01", "1nD6jMe4"),
    Share("Python 数据分析 视频教程", "", "学习强国", "2022-07-07", "1oE8hLw1"),
    Share("C++ Primer 中文版 第五版.pdf", "41.5M", "codebook", "2017-09-09", "1pF0gKq8"),
    Share("算法导论 第三版 Introduction to Algorithms.pdf", "54.0M", "codebook", "2019-03-14",
          "1qG2fJa5"),
    Share("考研英语 历年真题 2010-2024", "", "考研人", "2024-02-20", "1rH4dHs2"),
    Share("高中数学 必修一 教学视频", "3.3G", "学习强国", "2021-09-01", "1sI6cGd9"),
    Share("小学语文 课件 人教版", None, "王老师", "2022-08-28", "1tJ8bFf6", True),
    Share("英语四级 词汇 mp3", "320M", "考研人", "2023-05-05", "1uK0aDg3"),
    Share("周杰伦 全部专辑 无损 FLAC", "", "musicbox", "2020-01-18", "1vL2zSh0"),
    Share("邓紫棋 新的心跳 演唱会.mp4", "2.2G", "musicbox", "2022-12-31", "1wM4yAj7"),
    Share("古典音乐 Bach Goldberg Variations.ape", "1.8G", "古典乐迷", "2019-07-21", "1xN6xQk4"),
    Share("轻音乐 睡眠 放松 Relax Music", "", "夜猫子", "2021-11-11", "1yO8wWl1"),
    Share("Beyond 海阔天空 Live 1991.mp3", "9.6M", "老歌迷", "2018-10-10", "1zP0vEz8"),
    Share("Photoshop 2023 中文版 安装包", "3.9G", "设计师阿杰", "2023-03-03", "2aQ2uRx5", True),
    Share("Office 2021 专业增强版.iso", "4.6G", "软件仓库", "2022-01-15", "2bR4tTc2"),
    Share("Visual Studio Code 离线安装包", "89M", "软件仓库", "2023-10-24", "2cS6sYv9"),
    Share("Blender 3.6 教程 从零开始", "", "设计师阿杰", "2023-07-29", "2dT8rUb6"),
    Share("三体 全集 刘慈欣 epub mobi", "15.0M", "书虫", "2020-06-06", "2eU0qIn3"),
    Share("金庸 武侠小说 全集 txt", "48.2M", "书虫", "2019-02-14", "2fV2pOm0"),
    Share("Harry Potter 哈利波特 英文原版 全七册.epub", "22.7M", "bookworm", "2021-04-04",
          "2gW4oPa7"),
    Share("红楼梦 有声书 全120回", "", "书虫", "2022-05-20", "2hX6nAs4", True),
    Share("中国地图 高清 2024版.jpg", "36.8M", "地理君", "2024-03-08", "2iY8mSd1"),
    Share("家常菜 菜谱 视频 合集", "", "厨房日记", "2021-12-12", "2jZ0lDf8"),
    Share("健身 增肌 训练计划.pdf", "5.5M", "fitclub", "2022-09-09", "2kA2kFg5"),
    Share("Minecraft 我的世界 Java版 整合包", "1.1G", "方块人", "2023-01-22", "2lB4jGh2"),
    Share("英雄联盟 精彩集锦 2023.mp4", "780M", "电竞小李", "2023-11-19", "2mC6hHj9"),
    Share("摄影入门 教程 Photography Basics", None, "镜头下", "2020-08-15", "2nD8gJk6"),
]

BLOCK_LEFT = "<div class=\"article ali_row\"><h2><a rel='external nofollow' target='_blank' href=\""


def emphasise(text: str, keyword: str) -> str:
    """HTML of text with every case-insensitive occurrence of keyword wrapped in <em>."""
    if not keyword:
        return html.escape(text)
    folded, sought = text.lower(), keyword.lower()
    pieces, start = [], 0
    while (found := folded.find(sought, start)) != -1:
        end = found + len(sought)
        pieces += [html.escape(text[start:found]), "<em>", html.escape(text[found:end]), "</em>"]
        start = end
    pieces.append(html.escape(text[start:]))
    return "".join(pieces)


def result_block(share: Share, keyword: str, domain: str) -> str:
    link = f"https://{domain}/s/{share.code}"
    if share.via_download:
        link = "?download=" + link
    name = emphasise(share.name, keyword)
    fields = [f"文件名:{name}"]
    if share.size is not None:
        fields.append(f"文件大小:{share.size}")
    fields += [f"分享者:{html.escape(share.sharer)}", f"分享时间:{share.date}"]
    # A block's foot ends with CR; the LF after it only starts the next line.
    return (f"{BLOCK_LEFT}{link}\">{name}</a></h2><p>{' '.join(fields)}</p>"
            f"<div class=\"other\">{domain}</div></div>\r\n")


def result_page(keyword: str, page: int, domain: str) -> str:
    hits = [share for share in CATALOGUE if keyword.lower() in share.name.lower()]
    pages = max(1, -(-len(hits) // PAGE_SIZE))
    shown = hits[(page - 1) * PAGE_SIZE:page * PAGE_SIZE]
    blocks = "".join(result_block(share, keyword, domain) for share in shown)
    title = html.escape(keyword) or "全部分享"
    return (
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
        f"<title>{title} - 第{page}页 - 网盘搜索</title></head>\n<body><center>\n"
        f"<script>var hits = {len(hits)}, pages = {pages};</script><br><br>\n"
        f"<div class=\"summary\">找到 {len(hits)} 个分享，第 {page}/{pages} 页</div>\n"
        f"{blocks}"
        f"<script>pager({page}, {pages});</script></center><br>"
        "<script type=\"text/javascript\">var sampleService = true;</script>\n"
        "</body></html>\n")


SUPPORT_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>支持作者</title></head>
<body style="font-family: sans-serif; font-size: 14px">
<h3>感谢使用</h3>
<p>如果这个小工具帮到了你，欢迎支持作者。</p>
<p><a href="/support/thanks" target="_blank">点这里支持作者</a></p>
</body></html>
"""

THANKS_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>谢谢支持</title></head>
<body style="font-family: sans-serif"><h3>谢谢你的支持！</h3><p>现在可以开始搜索了。</p></body></html>
"""


class TeeReader:
    """Reads through to the socket's file and keeps the bytes of the lines read, so that a request's
    head can be recorded exactly as it arrived."""

    def __init__(self, raw):
        self.raw = raw
        self.kept = bytearray()

    def readline(self, *args):
        line = self.raw.readline(*args)
        self.kept += line
        return line

    def take(self) -> bytes:
        head, self.kept = bytes(self.kept), bytearray()
        return head

    def __getattr__(self, name):
        return getattr(self.raw, name)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "PelvaroSample/1.0"

    def setup(self):
        super().setup()
        self.rfile = TeeReader(self.rfile)

    def parse_request(self):
        parsed = super().parse_request()
        self.record(self.rfile.take())
        return parsed

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/":
            query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True,
                                                encoding="utf-8", errors="replace"))
            try:
                page = max(1, int(query.get("page", "1")))
            except ValueError:
                page = 1
            keyword = query.get("q", "")
            time.sleep(self.server.delays.get(page, 0))
            self.send_page(200, result_page(keyword, page, self.server.share_domain))
        elif url.path == "/support":
            self.send_page(200, SUPPORT_PAGE)
        elif url.path == "/support/thanks":
            self.send_page(200, THANKS_PAGE)
        else:
            self.send_page(404, "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head>"
                                "<body>找不到这个页面</body></html>\n")

    def send_page(self, status: int, text: str):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def record(self, head: bytes):
        if self.server.record_path:
            with self.server.record_lock, open(self.server.record_path, "ab") as out:
                out.write(head)

    def log_message(self, format, *args):
        if not self.server.quiet:
            super().log_message(format, *args)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, args):
        self.address_family = socket.AF_INET6 if ":" in args.host else socket.AF_INET
        self.share_domain = args.share_domain
        self.record_path = args.record
        self.record_lock = threading.Lock()
        self.quiet = args.quiet
        self.delays = dict(args.delay)
        super().__init__((args.host, args.port), Handler)


def loopback(host: str) -> str:
    if host == "localhost":
        return host
    try:
        if ipaddress.ip_address(host).is_loopback:
            return host
    except ValueError:
        pass
    raise argparse.ArgumentTypeError(f"{host} is not a loopback address")


def page_delay(text: str):
    page, _, seconds = text.partition("=")
    try:
        return int(page), float(seconds)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text} is not PAGE=SECONDS")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", type=loopback, default="127.0.0.1",
                        help="loopback address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=8936, help="port (default 8936)")
    parser.add_argument("--share-domain", default="pan.baidu.com",
                        help="domain printed at the foot of every result block")
    parser.add_argument("--record", metavar="FILE",
                        help="append each request's line and headers, byte for byte, to FILE")
    parser.add_argument("--quiet", action="store_true", help="log nothing")
    parser.add_argument("--delay", type=page_delay, action="append", default=[],
                        metavar="PAGE=SECONDS",
                        help="answer result page PAGE only after SECONDS (repeatable), so that "
                             "a later request can overtake it")
    args = parser.parse_args()

    try:
        server = Server(args)
    except OSError as error:
        print(f"cannot listen on {args.host}:{args.port}: {error.strerror}", file=sys.stderr)
        return 1
    if not args.quiet:
        print(f"sample service on http://{args.host}:{args.port}/", file=sys.stderr, flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
