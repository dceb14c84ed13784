"""The edges of wget's crawl of local sites, by both modes and by the oracle:
each DIR is served over HTTP on 127.0.0.1, wget crawls it from its
index.html into one compressed WARC file, and the edges (page TAB address)
of `talveron -z --https --tsv` (the module's rules), of `talveron -z --html
--tsv` and of tests/html_links_oracle.py's readers (html5lib's tokenizer and
tree builder, node's URL) are counted, with how many of each mode's are the
oracle's.

    python3 bench/crawl_edges.py TALVERON DIR...   (e.g. /usr/share/doc/nodejs/api)
"""
import collections
import os
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))
import html_links_oracle as oracle  # noqa: E402


def main():
    talveron, dirs = os.path.abspath(sys.argv[1]), sys.argv[2:]
    with tempfile.TemporaryDirectory() as work:
        site = pathlib.Path(work, "site")
        site.mkdir()
        for k, folder in enumerate(dirs):
            os.symlink(os.path.abspath(folder), site / f"site{k}")
        archive = oracle.wget_warc(site, work, [f"site{k}/index.html" for k in range(len(dirs))],
                                   ["-r", "-l", "inf", "--no-parent"])
        records = list(oracle.warc_records(archive))
        want = oracle.oracle(records)
        truth = collections.Counter(f"{uri}\t{link}" for (uri, _), links in zip(records, want) for link in links)
        print(f"wget's WARC of {len(dirs)} local sites: {len(records)} HTML pages "
              f"({os.path.getsize(archive):,} bytes)")
        print("| reading | edges | the oracle's | not the oracle's | the oracle's missed |")
        print("|---|---:|---:|---:|---:|")
        print(f"| oracle (html5lib + node `URL`) | {sum(truth.values()):,} | | | |")
        for label, options in (("`talveron -z --https --tsv`", ["--https"]), ("`talveron -z --html --tsv`", ["--html"])):
            done = subprocess.run([talveron, "-z", "--tsv", *options, archive], stdout=subprocess.PIPE)
            got = collections.Counter(done.stdout.decode("utf-8", "replace").splitlines())
            right = sum((got & truth).values())
            print(f"| {label} | {sum(got.values()):,} | {right:,} | {sum(got.values()) - right:,} | "
                  f"{sum(truth.values()) - right:,} |")


if __name__ == "__main__":
    main()
