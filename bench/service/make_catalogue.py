#!/usr/bin/env python3
"""Writes a synthetic catalogue of shares as CSV for pelvaro-service's benchmark.

    make_catalogue.py [--shares N] [--seed S] OUT.csv

Names mix Chinese and Latin words the way shared-file names do (a title, a few tags, a year, a
format, an extension), drawn with Zipf-like weights so that some keywords ("电影", "合集", "mp4")
are in a large part of the names and most are rare. Around 30 characters a name on average.
Standard library only; the same seed gives the same file.
"""

import argparse
import csv
import random
import sys

COMMON_ZH = ["电影", "合集", "高清", "视频", "教程", "全集", "国语", "中字", "资料", "音乐",
             "无损", "小说", "课程", "电子书", "动画", "纪录片", "英语", "考研", "软件", "游戏",
             "学习", "经典", "最新", "完整版", "中文版", "原版", "精选", "系列", "入门", "实战"]
RARE_SYLLABLES = ("天地玄黄宇宙洪荒日月盈昃辰宿列张寒来暑往秋收冬藏闰余成岁律吕调阳云腾致雨露结为霜"
                  "金生丽水玉出昆冈剑号巨阙珠称夜光果珍李柰菜重芥姜海咸河淡鳞潜羽翔龙师火帝鸟官人皇"
                  "始制文字乃服衣裳推位让国有虞陶唐吊民伐罪周发殷汤坐朝问道垂拱平章爱育黎首臣伏戎羌")
COMMON_EN = ["mp4", "mkv", "1080p", "4K", "HD", "pdf", "epub", "flac", "mp3", "iso", "zip",
             "Collection", "Complete", "Season", "Linux", "Python", "Ubuntu", "Windows", "Java",
             "Music", "Live", "Remastered", "BluRay", "x264", "HDR", "Guide", "Tutorial"]
EXTENSIONS = [".mp4", ".mkv", ".pdf", ".epub", ".zip", ".rar", ".iso", ".mp3", ".flac", ".txt",
              "", "", ""]
SHARERS = ["影视小站", "linuxfan", "书虫", "musicbox", "学习强国", "考研人", "软件仓库", "codebook",
           "每日更新", "老电影迷", "设计师阿杰", "镜头下"] + [f"user{i}" for i in range(2000)]
ALPHABET = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"


def zipf_weights(count):
    return [1.0 / (rank + 1) for rank in range(count)]


def rare_word(rng):
    return "".join(rng.choice(RARE_SYLLABLES) for _ in range(rng.randint(2, 4)))


def latin_word(rng):
    return "".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 8)))


def name(rng, zh_weights, en_weights):
    parts = []
    for _ in range(rng.randint(2, 5)):
        roll = rng.random()
        if roll < 0.35:
            parts.append(rng.choices(COMMON_ZH, zh_weights)[0])
        elif roll < 0.60:
            parts.append(rare_word(rng))
        elif roll < 0.78:
            parts.append(rng.choices(COMMON_EN, en_weights)[0])
        elif roll < 0.90:
            parts.append(latin_word(rng).capitalize())
        else:
            parts.append(str(rng.randint(1990, 2025)))
    separator = rng.choice([" ", ".", " ", "_", ""])
    return separator.join(parts) + rng.choice(EXTENSIONS)


def size(rng):
    if rng.random() < 0.15:
        return ""  # a folder
    value = rng.lognormvariate(4.5, 2.0)
    for unit in ("K", "M", "G"):
        if value < 1024:
            return f"{value:.1f}{unit}"
        value /= 1024
    return f"{value:.2f}T"


def code(number):
    text = ""
    while True:
        number, digit = divmod(number, len(ALPHABET))
        text = ALPHABET[digit] + text
        if number == 0:
            return "1" + text.rjust(7, "0")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--shares", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=16)
    parser.add_argument("out")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    zh_weights, en_weights = zipf_weights(len(COMMON_ZH)), zipf_weights(len(COMMON_EN))
    with open(args.out, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["name", "size", "sharer", "date", "link"])
        for number in range(args.shares):
            date = f"{rng.randint(2012, 2025)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
            writer.writerow([name(rng, zh_weights, en_weights), size(rng), rng.choice(SHARERS),
                             date, f"https://pan.baidu.com/s/{code(number * 7919 + 13)}"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
