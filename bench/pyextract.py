"""Harvests <a href="http://..."> addresses with Python's html.parser, the way a
script would: one per line on stdout. A peer for the benchmark."""
import sys
from html.parser import HTMLParser


class Anchors(HTMLParser):
    def __init__(self, out):
        super().__init__(convert_charrefs=False)
        self.out = out

    def handle_starttag(self, tag, attrs):
        if tag == "a":
            for name, value in attrs:
                if name == "href" and value and value.lower().startswith("http://"):
                    self.out.write(value + "\n")


def main():
    parser = Anchors(sys.stdout)
    with open(sys.argv[1], "rb") as page:
        while True:
            chunk = page.read(1 << 20)
            if not chunk:
                break
            parser.feed(chunk.decode("latin-1"))
    parser.close()


if __name__ == "__main__":
    main()
