#!/usr/bin/env python3
"""Builds the benchmark result pages in code page 936: page-100k.html (20 blocks, about 100 KB)
and page-5m.html (2000 blocks, about 5 MB), in the search service's format."""

import sys
from pathlib import Path

DOMAIN = "pan.baidu.com"
HEAD = ('<!DOCTYPE html>\r\n<html><head><meta charset="gbk"><title>搜索结果</title></head>\r\n'
        '<body><center><script type="text/javascript">showAd(1);</script><br><br>\r\n')
FOOT = ('<script type="text/javascript">showAd(2);</script></center><br>'
        '<script type="text/javascript">pager(1);</script>\r\n</body></html>\r\n')
FILLER = "这是分享文件的简介，包含<em>关键词</em>与 ASCII text 1234567890。"

PAGES = {"page-100k.html": (20, 100 * 1024), "page-5m.html": (2000, 5 * 1024 * 1024)}


def block(i, size):
    head = ('<div class="article ali_row"><h2><a rel=\'external nofollow\' target=\'_blank\' '
            f'href="?download=http://{DOMAIN}/s/1Share{i:05d}"><em>电影</em>合集第{i}部</a></h2><p>')
    fields = (f"文件名:<em>电影</em>合集第{i}部.rar 文件大小:{i % 97}.5M 分享者:网友{i} "
              "分享时间:2014-05-01 浏览次数:12 ")
    foot = f'</p><div class="other">{DOMAIN}</div></div>\r\n'
    used = len((head + fields + foot).encode("gbk"))
    filler = FILLER * max(0, (size - used) // len(FILLER.encode("gbk")))
    return head + fields + filler + foot


def page(blocks, size):
    per_block = (size - len(HEAD) - len(FOOT)) // blocks
    return (HEAD + "".join(block(i, per_block) for i in range(blocks)) + FOOT).encode("gbk")


def write(directory):
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    for name, (blocks, size) in PAGES.items():
        (directory / name).write_bytes(page(blocks, size))


if __name__ == "__main__":
    write(sys.argv[1] if len(sys.argv) > 1 else ".")
