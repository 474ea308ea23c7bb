#!/usr/bin/python3
"""Protected pages parse to the same document as the originals.

Each input goes through the page pass once and through the content pass and
both passes with every decoy kind and hiding method (13 outputs). Input and
output are parsed with html5lib as a browser parses them (scripting on, the
encoding sniffed from the bytes), and the documents are compared: encoding,
doctype, document mode, and the element tree (namespace, name, attributes,
merged text). Comments are left out everywhere, and so are decoys: elements
hidden by a style "LETTERS;display:none;LETTERS;" or by one of the hiding
classes of site key "k1" (taken from `vantoro stylesheet --site-key k1`).

    parse_equal.py --driver build/default/tests/parse/vantoro_protect_pages \
                   --tool build/default/src/cli/vantoro --corpus ../shared/corpus
    ... --cases 'bug-*,gen-00042'   a subset (shell-style patterns)
    ... --max-report 3 --save /tmp/failing   then: --replay /tmp/failing

Exit status: 0 no difference; 1 differences; 2 usage or set-up error; 3 the
comparison's own self-test failed; 77 html5lib is missing (a failure when the
environment variable CI is "true").
"""

import argparse
import collections
import fnmatch
import hashlib
import multiprocessing
import os
import random
import re
import signal
import subprocess
import sys
import time
import weakref
from xml.dom import Node, minidom

try:
    import html5lib
    from html5lib import treebuilders
    from html5lib._inputstream import lookupEncoding
except ImportError:  # reported in main(), where the exit status is decided
    html5lib = None

SKIP = 77
PASS_ONCE = [("page", "copyright", "style")]
COMBOS = PASS_ONCE + [(p, d, h) for p in ("content", "protect")
                      for d in ("copyright", "random", "both")
                      for h in ("style", "class")]
# A decoy's inline style: two letter runs around "display:none;" in any case.
DECOY_STYLE = re.compile(r"[A-Za-z]*;display:none;[A-Za-z]*;", re.IGNORECASE)
REQUEST_TIMEOUT = 10  # seconds for one output; the engine hanging is a finding too
TEXT_NODE = Node.TEXT_NODE
ELEMENT_NODE = Node.ELEMENT_NODE
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source",
        "track", "wbr"}
NS_PREFIX = {"http://www.w3.org/1999/xhtml": "", "http://www.w3.org/2000/svg": "svg:",
             "http://www.w3.org/1998/Math/MathML": "math:"}


# ---------------------------------------------------------------- parsing

_builders = {}


def tree_builder(positions):
    """html5lib's DOM tree builder, keeping the doctype as its token had it
    (the DOM splits a name at ":"), with positions: also where each node was
    made."""
    if not _builders:
        class Builder(treebuilders.getTreeBuilder("dom")):
            def reset(self):
                self.doctype_token = None
                super().reset()

            def insertDoctype(self, token):
                self.doctype_token = (token["name"], token["publicId"], token["systemId"])
                super().insertDoctype(token)

        class PositionBuilder(Builder):
            def documentClass(self):
                self.positions = {}
                self.dom = _PositionImplementation().createDocument(None, None, None)
                self.dom.on_node = self._record
                return weakref.proxy(self)

            def _record(self, node):
                # The stream stands just behind the token that made the node.
                self.positions[id(node)] = self.parser_ref.tokenizer.stream.position()

        _builders.update({False: Builder, True: PositionBuilder})
    return _builders[positions]


class Doc:
    """What is compared of a parsed page."""
    __slots__ = ("encoding", "doctype", "mode", "tree", "dom", "positions")

    def __init__(self, data, hiding_classes, positions=False):
        parser = html5lib.HTMLParser(tree=tree_builder(positions))
        parser.tree.parser_ref = parser
        # No chardet: a guess from the bytes could differ between input and output.
        self.dom = parser.parse(data, scripting=True, useChardet=False)
        self.encoding = parser.documentEncoding
        self.mode = parser.compatMode
        self.doctype = parser.tree.doctype_token
        self.tree = normalize(self.dom, hiding_classes)
        self.positions = getattr(parser.tree, "positions", None)


def is_decoy(element, hiding_classes):
    """hiding_classes None: nothing is a decoy."""
    if hiding_classes is None:
        return False
    style = element.getAttribute("style")
    if style and DECOY_STYLE.fullmatch(style):
        return True
    classes = element.getAttribute("class")
    return bool(classes) and not hiding_classes.isdisjoint(classes.split())


def kept_children(node, hiding_classes):
    """(DOM node, normalized child) for the children that are compared: comments
    and decoys left out, adjacent text merged (the DOM node is the first text
    node of a merged run)."""
    out = []
    for child in node.childNodes:
        kind = child.nodeType
        if kind == TEXT_NODE:
            if out and isinstance(out[-1][1], str):
                out[-1] = (out[-1][0], out[-1][1] + child.data)
            else:
                out.append((child, child.data))
        elif kind == ELEMENT_NODE:
            if is_decoy(child, hiding_classes):
                continue
            out.append((child, None))
    return out


def normalize(node, hiding_classes):
    """Children as tuples: text is a str, an element is
    (namespace, name, sorted attributes, children)."""
    result = []
    for child, text in kept_children(node, hiding_classes):
        if text is not None:
            result.append(text)
        else:
            attributes = tuple(sorted((a.namespaceURI or "", a.name, a.value)
                                      for a in child.attributes.values()))
            result.append((child.namespaceURI or "", child.localName, attributes,
                           normalize(child, hiding_classes)))
    return tuple(result)


# ------------------------------------------------------------- positions
# Only for reports: where in the source each node was made, to show the page
# around a difference.

class _PositionDocument(minidom.Document):
    def _made(self, node):
        self.on_node(node)
        return node

    def createTextNode(self, data):
        return self._made(super().createTextNode(data))

    def createElement(self, tagName):
        return self._made(super().createElement(tagName))

    def createElementNS(self, namespaceURI, qualifiedName):
        return self._made(super().createElementNS(namespaceURI, qualifiedName))


class _PositionImplementation(minidom.DOMImplementation):
    def _create_document(self):
        return _PositionDocument()


def source_text(data, encoding):
    """The page as the tokenizer saw it: decoded, no byte order mark, CR LF and CR as LF."""
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    text = lookupEncoding(encoding).codec_info.decode(data, "replace")[0]
    return text.replace("\r\n", "\n").replace("\r", "\n")


def locate(doc, index_path, hiding_classes):
    """The DOM node at a path of normalized child indices; past the end of a
    parent's children, its last kept child (else the parent)."""
    node = doc.dom
    for index in index_path:
        kept = kept_children(node, hiding_classes)
        if not kept:
            return node
        node = kept[min(index, len(kept) - 1)][0]
    return node


def around(data, doc, index_path, hiding_classes, width=90):
    text = source_text(data, doc.encoding)
    offset = 0
    if index_path is not None:
        line_col = doc.positions.get(id(locate(doc, index_path, hiding_classes)))
        if line_col is not None:
            line, col = line_col
            starts = [0] + [m.end() for m in re.finditer("\n", text)]
            offset = min(starts[min(line, len(starts)) - 1] + col, len(text))
    before = text[max(0, offset - width):offset]
    after = text[offset:offset + width // 2]
    return ("…" if offset > width else "") + repr(before + "[HERE]" + after)


# ------------------------------------------------------------ comparison

def describe(node, limit=140):
    """A node as short markup, for reports."""
    parts = []

    def walk(n):
        if sum(map(len, parts)) > limit:
            return
        if isinstance(n, str):
            parts.append(n)
            return
        ns, name, attributes, children = n
        attrs = "".join(f' {a}="{v}"' for _, a, v in attributes)
        parts.append(f"<{NS_PREFIX.get(ns, ns + ':')}{name}{attrs}>")
        for c in children:
            walk(c)
        if children or name not in VOID:
            parts.append(f"</{NS_PREFIX.get(ns, ns + ':')}{name}>")

    walk(node)
    text = "".join(parts)
    text = repr(text if len(text) <= limit else text[:limit] + "…")
    return ("text " if isinstance(node, str) else "element ") + text


def step_name(siblings, index):
    node = siblings[index]
    if isinstance(node, str):
        same = [i for i, s in enumerate(siblings) if isinstance(s, str)]
        name = "text()"
    else:
        same = [i for i, s in enumerate(siblings)
                if not isinstance(s, str) and s[:2] == node[:2]]
        name = NS_PREFIX.get(node[0], node[0] + ":") + node[1]
    return name + (f"[{same.index(index) + 1}]" if len(same) > 1 else "")


class Difference:
    __slots__ = ("kind", "path", "index_path", "expected", "got")

    def __init__(self, kind, path="", index_path=None, expected="", got=""):
        self.kind, self.path, self.index_path = kind, path, index_path
        self.expected, self.got = expected, got

    def signature(self):
        """Kind and place without positions: differences with one cause share it."""
        if self.kind == "driver":
            return f"driver: {re.sub(r'[0-9]+', 'N', self.got)[:70]}"
        steps = [re.sub(r"\[\d+\]", "", s) for s in self.path.split("/") if s]
        return f"{self.kind} at …/{'/'.join(steps[-2:])}" if steps else self.kind

    def line(self):
        where = f" at {self.path}" if self.path else ""
        return f"{self.kind}{where}: expected {self.expected}, got {self.got}"


def text_difference(expected, got):
    """The two texts from a little before the first character that differs."""
    i = 0
    while i < min(len(expected), len(got)) and expected[i] == got[i]:
        i += 1
    start = max(0, i - 20)
    cut = (lambda s: ("…" if start else "") + repr(s[start:start + 60]) +
           ("…" if len(s) > start + 60 else ""))
    return cut(expected), cut(got)


def first_difference(expected, got):
    """The first difference in document order, or None."""
    if expected.encoding != got.encoding:
        return Difference("encoding", "", None, repr(expected.encoding), repr(got.encoding))
    if expected.doctype != got.doctype:
        return Difference("doctype", "", None, repr(expected.doctype), repr(got.doctype))
    if expected.mode != got.mode:
        return Difference("mode", "", None, repr(expected.mode), repr(got.mode))
    if expected.tree == got.tree:
        return None
    return _children_difference(expected.tree, got.tree, "", [])


def _children_difference(a, b, path, index_path):
    for i in range(max(len(a), len(b))):
        x = a[i] if i < len(a) else None
        y = b[i] if i < len(b) else None
        if x == y:
            continue
        here = index_path + [i]
        if x is None:
            return Difference("extra node", path + "/" + step_name(b, i), here,
                              "nothing", describe(y))
        step = path + "/" + step_name(a, i)
        if y is None:
            return Difference("missing node", step, here, describe(x), "nothing")
        if isinstance(x, str) and isinstance(y, str):
            return Difference("text", step, here, *text_difference(x, y))
        if isinstance(x, str) or isinstance(y, str) or x[:2] != y[:2]:
            return Difference("other node", step, here, describe(x), describe(y))
        if x[2] != y[2]:
            return Difference("attributes", step, here,
                              repr({n: v for _, n, v in x[2]}), repr({n: v for _, n, v in y[2]}))
        return _children_difference(x[3], y[3], step, here)
    return Difference("tree", path, index_path, "?", "?")  # equal tuples never get here


# ---------------------------------------------------------------- driver

class DriverFailure(Exception):
    pass


class _Timeout(Exception):
    pass


class Driver:
    """One vantoro_protect_pages process serving many requests."""

    def __init__(self, path):
        self.path = path
        self.process = None

    def start(self):
        self.process = subprocess.Popen([self.path], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def stop(self):
        """Its exit status (negative: the signal that ended it)."""
        if self.process is None:
            return None
        self.process.kill()
        status = self.process.wait()
        self.process = None
        return status

    def protect(self, page, combo, seed):
        if self.process is None:
            self.start()

        def expired(*_):
            raise _Timeout()

        old = signal.signal(signal.SIGALRM, expired)
        signal.alarm(REQUEST_TIMEOUT)
        try:
            header = f"{combo[0]} {combo[1]} {combo[2]} {seed} {len(page)}\n".encode()
            try:
                self.process.stdin.write(header + page)
                self.process.stdin.flush()
                line = self.process.stdout.readline()
            except BrokenPipeError:
                line = b""
            if line.startswith(b"ok "):
                length = int(line[3:])
                out = self.process.stdout.read(length)
                if len(out) == length:
                    return out
            elif line.startswith(b"error "):
                # The engine refused the page; the process goes on.
                raise DriverFailure("the engine failed: " +
                                    line[6:].decode("utf-8", "replace").strip())
            # Dead, or out of step: a fresh process for the next request.
            self.process.poll()
            died = self.process.returncode is not None or line == b""
            status = self.stop()
            if died:
                how = f"signal {-status}" if status < 0 else f"exit status {status}"
                raise DriverFailure(f"the driver died ({how})")
            raise DriverFailure(f"unreadable answer {line[:80]!r}")
        except _Timeout:
            self.stop()
            raise DriverFailure(f"no answer in {REQUEST_TIMEOUT} s") from None
        finally:
            signal.alarm(0)
            signal.signal(signal.SIGALRM, old)


def seed_for(global_seed, name, combo):
    digest = hashlib.blake2b(f"{global_seed}|{name}|{'|'.join(combo)}".encode(), digest_size=8)
    return int.from_bytes(digest.digest(), "little")


# --------------------------------------------------------------- workers

_worker = {}


def worker_init(driver_path, hiding_classes, global_seed):
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the main process handles ^C
    _worker["driver"] = Driver(driver_path)
    _worker["classes"] = hiding_classes
    _worker["seed"] = global_seed


def run_case(case):
    """[(combo, seed, Difference or None, output or None)] for one input."""
    name, page = case
    driver, classes = _worker["driver"], _worker["classes"]
    expected = Doc(page, classes)
    results = []
    for combo in COMBOS:
        seed = seed_for(_worker["seed"], name, combo)
        try:
            out = driver.protect(page, combo, seed)
        except DriverFailure as e:
            results.append((combo, seed, Difference("driver", "", None, "an answer", str(e)), None))
            continue
        difference = first_difference(expected, Doc(out, classes))
        results.append((combo, seed, difference, out if difference else None))
    return results


# ----------------------------------------------------------------- cases

# Inputs of a bug report: each parsed differently after protection.
BUG_CASES = [
    "a</<br>b",
    "<!x <a target=y>z</a>",
    "<!DOCTYPE html>word<!DOCTYPE x>\nnext",
    "<!DOCTYPE >x>y",
    "<a r= href=y>",
    "<title>a</titles><p id=x>b</title>",
    "<svg><title><!--</title>x<p>y",
    "<noembed><img src=x>",
    "<script><!--<script></script><p id=x>",
    "</p>x",
    "<head></p><title>t</title>",
    "<p><a><p></p",
    "<select><option>a<br>b",
]


def corpus_cases(folder):
    return [("corpus-" + os.path.splitext(f)[0], open(os.path.join(folder, f), "rb").read())
            for f in sorted(os.listdir(folder)) if f.endswith(".html")]


WORDS = ["alpha", "beta", "word", "text", "Grüße", "naïve", "café", "日本語", "中文", "Ελλάδα",
         "привет", "ñandú", "x", "a b", "1 < 2", "a > b", "&amp;", "&lt;p&gt;", "&nbsp;",
         "&#x41;", "&#66;", "&copy", "&notit;", "&", "R&D", "\t", "\n", "  "]


def T(r):
    return " ".join(r.choice(WORDS) for _ in range(r.randint(1, 3)))


def pick(r, *options):
    return r.choice(options)


# Names of elements whose text is RCDATA or RAWTEXT (scripting on: noscript too).
RCDATA = ["title", "textarea"]
RAWTEXT = ["style", "xmp", "iframe", "noembed", "noframes", "noscript"]


def end_tag_variant(r, name):
    """Appropriate and inappropriate end tags of raw text elements."""
    return pick(r, f"</{name}>", f"</{name} x>", f"</{name}/>", f"</{name}s>",
                f"</{name.upper()}>", f"</{name}\t>", f"</{name}\n>", f"</ {name}>",
                f"</{name[:-1]}>", f"</{name} a='>'>", "")


def raw_inside(r):
    return pick(r, T(r), "<b>x</b>", "a</p>b", "<br>", "</p", "<!--c-->", "<!--",
                "-->", "<p id=x>", "</div>", "<br/>x", "&amp;</p>")


def f_ordinary(r):
    return pick(
        r,
        f"<p>{T(r)}</p>",
        f"<p class=lead>{T(r)}<br>{T(r)}</p>",
        f"<div id=d{r.randint(1, 9)} class=\"c1 c2\">{T(r)}</div>",
        f"<span title='{T(r)}'>{T(r)}</span>",
        f"<a href=\"/x?a=1&amp;b=2\" target=_blank>{T(r)}</a>",
        f"<img src=img{r.randint(1, 9)}.png alt=\"{T(r)}\" width=10>",
        f"{T(r)}<br>{T(r)}",
        f"<b>{T(r)}</b> <i>{T(r)}</i>",
        f"<div><p>{T(r)}<br/>{T(r)}</p><p>{T(r)}</div>",
        f"<em>{T(r)}</em>",
        "<hr>", "<br>", "</p>", "<p>",
    )


def f_tag_open(r):
    return pick(r, "a < b", "<3", "<=x", "< p>", "<<p>x", "<-", "<.a>", "1<2</p>",
                "<\u00e9t\u00e9>", "<p<br>>x", "<a<b>", "<br<p>", "<_x>", "<p\n>x</p\n>",
                "<p\t>y", "<P>z</P>", "<p/>q</p/>", "<p//>")


def f_end_tag(r):
    return pick(r, "</b>", "</3>", "</ x>", "</#foo>", "</>", "</ p>", "</-->",
                "</p x=y>", "</p/>", "</P>", "</p\t>", "</px>", "</p\n>", "</br>", "</br x>",
                "</BR>", "</div>", "</span x='</p>'>", "</a\"b>", "</?x>", "</!x>")


def f_declaration(r):
    return pick(r, "<!--c-->", "<!DOCTYPE html>", "<!doctype html>", "<!DocType HTML>",
                "<!DOCTYPE x>", "<!DOCTYPE>", "<!DOCTYPE >x", "<![CDATA[a</p>b]]>",
                "<![CDATA[<br>]]>x", "<!x>", "<!-x>", "<!>", "<!x <p>y</p>", "<!-- a <br> -->",
                "<!ELEMENT br EMPTY>", "<![if !IE]>x<![endif]>", "<!--[if IE]><p>x</p><![endif]-->",
                "<?xml version='1.0'?>", "<?php echo 1; ?>", "<?a > b?>", "<?x</p>?>", "<??>")


def f_comment(r):
    return pick(r, "<!--a-->", "<!--a--!>b", "<!-->x", "<!--->x", "<!--a<!--b-->c",
                "<!-- -- -->", "<!--a---->", "<!--a--!-->", "<!--a- -->", "<!---->",
                "<!--<p>x</p>-->", "<!--<br>--!>y", "<!----!>z", "<!--a--->")


def f_rcdata(r):
    name = r.choice(RCDATA)
    case = pick(r, name, name.upper(), name.capitalize())
    return f"<{case}>{raw_inside(r)}{end_tag_variant(r, name)}{raw_inside(r)}</{name}>"


def f_rawtext(r):
    name = r.choice(RAWTEXT)
    return f"<{name}>{raw_inside(r)}{end_tag_variant(r, name)}{raw_inside(r)}</{name}>"


def f_script(r):
    return pick(
        r,
        "<script>if(a<b)x</script>",
        "<script>a<!--b</script>c",
        "<script><!--<script>x</script>y</script>z",
        "<script><!--<script></script><p id=x>",
        "<script><!-- a --></script><p>b</p>",
        "<script>--></script>",
        "<script><!--a--!></script>",
        "<script><!--<script>--></script><br>",
        "<script>x</script >y",
        "<script>x</SCRIPT>y",
        "<script>x</scripts>y</script>",
        "<script>'</p>'</script>",
        "<script>document.write('<br>')</script>",
        "<script><!--</script><br>",
        "<script><!--<SCRIPT >a</script>b--></script>c",
        "<script type=text/template><p>x</p><br></script>",
        "<script><!--<script a></script/>-->x</script>",
    )


def f_attributes(r):
    return pick(
        r,
        "<div a=\"x>y\" b='p</p>' c=unq>t</div>",
        "<a href = x title= 'y'>z</a>",
        "<a href= \n x>z</a>",
        "<div =x>y</div>",
        "<a \"b\"=c>d</a>",
        "<a 'b=c>d</a>",
        "<a b<c=d>e</a>",
        "<a b=c<d>e</a>",
        "<a b=c\"d>e</a>",
        "<a b=c'd'>e</a>",
        "<a href=x/>y</a>",
        "<a b='x'c=d>e</a>",
        "<a b=\"x\"c=d>e</a>",
        "<img src=<a href=x>y",
        "<a b=1 b=2 B=3>c</a>",
        "<input disabled value='a<br>b'>",
        "<div a=`x`>y</div>",
        "<p a=\"</p>\">x</p>",
        "<div data-x='{\"a\":\"<br>\"}'>y</div>",
        "<span onclick=\"a<b&&c>d\">x</span>",
        "<a =>b</a>",
        "<a = >b</a>",
        "<a b==c>d</a>",
        "<a b=>c</a>",
        "<a/b/c>d</a>",
        "<a b / c>d</a>",
        "<a b=/>c</a>",
        "<div\u00a0a=b>c</div>",
        "<img alt=\"a\nb\" src=x>",
        "<br a=</p>>",
        "<br style='display:none'>",
        "<p STYLE=\"color:red\" Class=X>y</p>",
    )


def f_eof(r):
    """Only at the very end: constructs that the end of the input cuts."""
    return pick(r, "<", "</", "<!", "<!-", "<!--x", "<!--x-", "<!--x--", "<div a=b",
                "<div a=\"x", "<div a='x", "<div a", "<div a=", "<p", "</p", "<br",
                "<br/", "</p x", "<a href=x", "<!DOCTYPE", "<!DOCTYPE html",
                "<![CDATA[x", "<svg><![CDATA[x", "<?x", "<title>x", "<textarea>a</p>",
                "<style>a", "<script>a<!--<script>", "<script><!--", "<plaintext>a</p><br>b",
                "<xmp>a<br>", "<noscript><p>x", "<iframe>x</p>", "<p>x</p", "x<br")


def f_plaintext(r):
    return pick(r, "<plaintext>a</p>b<br>c</plaintext>", "<PLAINTEXT>x<!--y-->",
                "<p><plaintext><br></p>")


def f_foreign(r):
    return pick(
        r,
        "<svg><title>a</p>b</title><desc><br>x</desc></svg>",
        "<svg><foreignObject><p>y<br>z</p></foreignObject></svg>",
        "<svg><style>a</p>b</style><script>c<br>d</script></svg>",
        "<svg><style><!--</style>x</svg>",
        "<math><mi>x<br>y</mi><mo>+</mo><mtext>a</p>b</mtext></math>",
        "<math><annotation-xml encoding=\"text/html\"><p>z</p><br></annotation-xml></math>",
        "<math><annotation-xml encoding=text/html><br></annotation-xml></math>",
        "<math><annotation-xml><p>z</annotation-xml></math>",
        "<svg><p>x</p>y</svg>",
        "<svg><b>x</b></svg>",
        "<svg><div>x</div></svg>",
        "<svg><font color=x>y</font></svg>",
        "<svg><font>y</font></svg>",
        "<svg><![CDATA[a</p>b<br>]]></svg>",
        "<math><![CDATA[<br>]]></math>",
        "<svg><br>x</svg>",
        "<svg></p>x</svg>",
        "<svg><path d='M0 0'/><g><circle r=1 /></g></svg>",
        "<svg viewBox='0 0 1 1'><use xlink:href=#a /></svg>",
        "<svg><clippath><lineargradient/></clippath></svg>",
        "<math><mi><svg><title>x</title></svg></mi></math>",
        "<svg><desc><svg><title><br></title></svg></desc></svg>",
        "<svg><title><!--</title>x<p>y",
        "<math><mglyph/><malignmark/></math>",
        "<svg><script>a</p></script></svg>",
        "<svg><a><br></a></svg>",
    )


def f_head_context(r):
    return pick(r, "</p>", "<br>", T(r), "<title>t</title>", "<meta name=a content=b>",
                "<noscript><p>x</p></noscript>", "<style>p{}</style>", "<base href=/>",
                "<link rel=x href=y>", "<script>x</script>", " \n", "<!--c-->", "</br>")


def f_select(r):
    return pick(
        r,
        f"<select><option>{T(r)}<br>{T(r)}</option><option>b</p>c</select>",
        "<select><optgroup label=g><option>c</p>d</optgroup></select>",
        "<datalist><option>x<br></option></datalist>",
        "<select><p>x</p><br>y</select>",
        "<select><option>a<br>b",
        "<select><option>a</option></select></p>",
        "<select><input>x<br>",
        "<select><textarea>x</textarea>y<br></select>",
        "<select><script>a</p></script></select>",
        "<select><svg><br></svg></select>",
        "<select><option><b>a</b><br></select>",
    )


def f_table(r):
    return pick(
        r,
        f"<table><tr><td>a<br>{T(r)}</td></tr></table>",
        "<table>x<br></p><tr><td>y</table>",
        "<table><tbody></p><br></tbody></table>",
        "<table><caption>a<br>b</p></caption></table>",
        "<table><tr><th>x</p>y<br></th></tr></table>",
        "<table><colgroup><br><col></colgroup></table>",
        "<table><tr>x</p><td>y</td></tr></table>",
        "<table><p>x</p></table>",
        "<table><td>a</p></td></table>",
        "<p><table><tr><td>x</table>y</p>",
        "<table><tr><td><p>a<br></td><td>b</p></table>",
        "<table><select><option>a<br></select></table>",
        "<table><form><tr><td>x</form></table>",
        "<table><input type=hidden><br></table>",
        "<table><style>a</p></style></table>",
        "<table> <br> </table>",
    )


def f_structure(r):
    return pick(
        r,
        "<p><a><p>x</p>",
        "<b><i>x</b>y</i>",
        "<a href=1>x<a href=2>y</a>",
        "<b><p>x</b>y</p>",
        "<a href=1>x<div>y</a>z</div>",
        "<ul><li>a<br><li>b</p></ul>",
        "<ol><li><p>a<li>b</ol>",
        "<dl><dt>a<br><dd>b</p></dl>",
        "<button>a<br><button>b</p>",
        "<button><p>x</button>y",
        "<p>x</p></p>",
        "x</p>y",
        "<p>a<div>b</p>c</div>",
        "<h1>a<h2>b</h1>c",
        "<p>a<h1>b</p>c</h1>",
        "<form><form><p>x</form></p>",
        "<nobr>a<nobr>b<br></nobr>",
        "<font color=red><p>a</font>b</p>",
        "<object><p>x</object>y</p>",
        "<marquee><p>x</marquee></p>",
        "<ruby>a<rt>b<br></ruby>",
        "<template><p>a<br>b</p><tr><td>x</td></tr></template>",
        "<template></p><br></template>",
        "<div><p>a</div>b</p>",
        "<p><br/></p>",
        "<p><BR></p>",
        "<p><brx>x</brx></p>",
        "<p><br\n>x</p>",
        "<pre>\nx<br></pre>",
        "<pre>\n\ny</pre>",
        "<listing>\nz</p></listing>",
        "<textarea>\nq</p></textarea>",
        "<pre><br>\nx</pre>",
        "<image src=x>",
        "<isindex>",
        "<frameset><frame></p><br><noframes><p>x</p></noframes></frameset>",
        "<noframes><br></noframes>",
        "</body></p>x<br>",
        "</html><br>y",
        "</body></html>x</p>",
        "<body a=b></p>",
        "<html lang=x><p>y",
        "<li>a</li></li>",
        "<p><p><p></p></p>",
        "<em><p>x</em></p>",
        "<table><b><tr><td>x</b></table>",
        "<a><table><a>x</table>",
        "<main><p>x</main>y",
        "<p><hr>x</p>",
        "<p><svg></p></svg>",
        "<span><p>x</span></p>",
    )


FRAGMENTS = [(f_ordinary, 6), (f_tag_open, 2), (f_end_tag, 2), (f_declaration, 2),
             (f_comment, 2), (f_rcdata, 2), (f_rawtext, 2), (f_script, 2), (f_plaintext, 0.2),
             (f_attributes, 3), (f_foreign, 3), (f_select, 2), (f_table, 2),
             (f_structure, 5)]

# Contexts that fragments go into, with and without their end tags.
CONTEXTS = [("", ""), ("<p>", "</p>"), ("<div>", "</div>"), ("<table>", "</table>"),
            ("<table><tr>", "</table>"), ("<table><tr><td>", "</td></tr></table>"),
            ("<table><caption>", "</caption></table>"), ("<select>", "</select>"),
            ("<select><option>", "</select>"), ("<select><optgroup><option>", "</select>"),
            ("<datalist><option>", "</datalist>"), ("<ul><li>", "</ul>"),
            ("<button>", "</button>"), ("<b>", "</b>"), ("<a href=#>", "</a>"),
            ("<pre>", "</pre>"), ("<svg>", "</svg>"), ("<math>", "</math>"),
            ("<svg><foreignObject>", "</foreignObject></svg>"), ("<math><mi>", "</mi></math>"),
            ("<math><annotation-xml encoding=\"text/html\">", "</annotation-xml></math>"),
            ("<template>", "</template>"), ("<object>", "</object>"), ("<h1>", "</h1>"),
            ("<form>", "</form>"), ("<font color=red>", "</font>"), ("<nobr>", "</nobr>"),
            ("<ruby>", "</ruby>"), ("<span>", "</span>")]

DOCTYPES = ["<!DOCTYPE html>", "<!doctype html>", "<!DOCTYPE HTML>", "<!DOCTYPE>",
            "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">",
            "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
            "\"http://www.w3.org/TR/html4/loose.dtd\">",
            "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
            "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">",
            "<!DOCTYPE html SYSTEM \"about:legacy-compat\">", "<!DOCTYPE x>"]

CHARSETS = [(None, "utf-8"), ("utf-8", "utf-8"), ("windows-1252", "cp1252"),
            ("gbk", "gbk"), ("shift_jis", "shift_jis")]


def generate_page(global_seed, index):
    """One short malformed page, the same for the same seed and index."""
    r = random.Random(f"{global_seed}:{index}")
    label, codec = r.choice(CHARSETS) if r.random() < 0.3 else CHARSETS[0]
    meta = "" if label is None else pick(
        r, f"<meta charset=\"{label}\">",
        f"<meta http-equiv=Content-Type content=\"text/html; charset={label}\">")
    head = []
    shape = r.random()
    if shape < 0.25:      # text, </p> and <br> at the very start
        pass
    else:
        if r.random() < 0.7:
            head.append(r.choice(DOCTYPES))
            if r.random() < 0.2:  # several, with line breaks around them
                head.append(pick(r, "\n", "\r\n", "", " ") + r.choice(DOCTYPES) + "\n")
        if shape < 0.6:
            head.append("<html><head>" + meta)
            for _ in range(r.randint(0, 2)):
                head.append(f_head_context(r))
            head.append(pick(r, "</head>", "</head>\n", "</head></p>x", "</head><br>", ""))
            if r.random() < 0.8:
                head.append(pick(r, "<body>", "<body class=b>\n", "\n<body>"))
        else:
            head.append(meta)
    weights = [w for _, w in FRAGMENTS]
    body = []
    for _ in range(r.randint(2, 7)):
        fragment = r.choices(FRAGMENTS, weights)[0][0](r)
        if r.random() < 0.4:
            opener, closer = r.choice(CONTEXTS)
            fragment = opener + fragment + (closer if r.random() < 0.6 else "")
        if r.random() < 0.5:
            fragment += f_ordinary(r)
        body.append(fragment)
    if shape < 0.25:  # the declared character set, if any, right behind
        body.insert(0, pick(r, "</p>", "<br>", "x", "x</p>", "<br>x", "</br>", " \n") + meta)
    tail = f_eof(r) if r.random() < 0.25 else ""
    bom = "\ufeff" if codec == "utf-8" and r.random() < 0.1 else ""
    while True:
        text = bom + "".join(head) + "".join(body) + tail
        data = text.encode(codec, "xmlcharrefreplace")
        if len(data) < 1000 or len(body) <= 1:
            return data[:999]
        body.pop()


def generated_cases(global_seed, count):
    return [(f"gen-{i:05d}", generate_page(global_seed, i)) for i in range(count)]


# ------------------------------------------------------------- self-test

SAMPLE = (b"<!DOCTYPE html><html><head><meta charset=utf-8><title>T</title></head>"
          b"<body><div id=a class='x y'><p>One <b>two</b><br>three</p>"
          b"<svg><use xlink:href='#i'/></svg><table><tr><td>c</td></tr></table>"
          b"<p>f\xc3\xbcnf</p></div></body></html>")


def self_test(driver_path, hiding_classes):
    """The comparison finds no difference where there is none and finds the
    ones there are: a harness that never fails proves nothing."""
    a_class = next(iter(sorted(hiding_classes)))
    failures = []

    def compare(label, original, changed, kind):
        difference = first_difference(Doc(original, hiding_classes), Doc(changed, hiding_classes))
        got = difference.kind if difference else None
        if got != kind:
            failures.append(f"{label}: expected {kind or 'no difference'}, got "
                            f"{difference.line() if difference else 'no difference'}")

    same = [
        ("itself", SAMPLE),
        ("a comment added", SAMPLE.replace(b"<p>One", b"<!--c--><p><!--d-->One")),
        ("tag case and gaps", SAMPLE.replace(b"<b>two</b>", b"<B \n>two</b\t>")),
        ("style decoy", SAMPLE.replace(b"<br>", b"<span style='abc;DiSPLaY:nONe;xy;'>"
                                       b"~Example Site/All rights reserved</span><br>")),
        ("style decoy, empty runs", SAMPLE.replace(b"</p>", b"<font style=\";display:none;;\">"
                                                   b"x</font></p>")),
        ("class decoy", SAMPLE.replace(b"<br>", b"<label class='Ab " + a_class.encode() +
                                       b" Cd'>~Example</label><br>")),
        ("random decoy splitting a text", SAMPLE.replace(b"three", b"th<q style='a;display:"
                                                         b"none;b;'>\t?</q>ree")),
    ]
    for label, changed in same:
        compare(label, SAMPLE, changed, None)
    different = [
        ("attribute changed", SAMPLE.replace(b"id=a", b"id=b"), "attributes"),
        ("attribute added", SAMPLE.replace(b"<td>", b"<td x>"), "attributes"),
        ("namespaced attribute changed", SAMPLE.replace(b"#i", b"#j"), "attributes"),
        ("text changed", SAMPLE.replace(b"three", b"thre"), "text"),
        ("white space added", SAMPLE.replace(b"<b>two", b"<b> two"), "text"),
        ("element moved", SAMPLE.replace(b"<b>two</b><br>", b"<br><b>two</b>"), "other node"),
        ("element renamed", SAMPLE.replace(b"<b>two</b>", b"<i>two</i>"), "other node"),
        ("element added at the end", SAMPLE.replace(b"</div>", b"<hr></div>"), "extra node"),
        ("element removed", SAMPLE.replace(b"<br>", b""), "other node"),
        ("last element removed", SAMPLE.replace(b"<p>f\xc3\xbcnf</p>", b""), "missing node"),
        ("style that hides no decoy", SAMPLE.replace(b"<br>", b"<span style='display:none'>"
                                                     b"x</span><br>"), "other node"),
        ("class that hides nothing", SAMPLE.replace(b"<br>", b"<span class='nothing'>x</span>"
                                                    b"<br>"), "other node"),
        ("doctype", SAMPLE.replace(b"<!DOCTYPE html>", b"<!DOCTYPE html SYSTEM 'x'>"), "doctype"),
        # The same doctype, but a malformed one: quirks mode.
        ("mode", SAMPLE.replace(b"<!DOCTYPE html>", b"<!DOCTYPE html bogus>"), "mode"),
        ("doctype's public identifier", SAMPLE.replace(
            b"<!DOCTYPE html>", b"<!DOCTYPE html PUBLIC '-//W3C//DTD HTML 3.2//EN'>"), "doctype"),
        ("encoding", SAMPLE.replace(b"utf-8", b"windows-1252"), "encoding"),
        ("svg namespace", SAMPLE.replace(b"<svg><use xlink:href='#i'/></svg>",
                                         b"<span><use xlink:href='#i'/></span>"), "other node"),
    ]
    for label, changed, kind in different:
        compare(label, SAMPLE, changed, kind)
    compare("a comment before no doctype", SAMPLE.replace(b"<!DOCTYPE html>", b""),
            SAMPLE.replace(b"<!DOCTYPE html>", b"<!---->"), None)

    # The place of a difference is named.
    difference = first_difference(Doc(SAMPLE, hiding_classes),
                                  Doc(SAMPLE.replace(b"three", b"3"), hiding_classes))
    if difference is None or difference.path != "/html/body/div/p[1]/text()[2]":
        failures.append(f"path of a text change: got {difference and difference.path}")

    # The driver: the same request gives the same bytes, another seed others, and
    # real decoys of every kind are recognized as decoys.
    driver = Driver(driver_path)
    try:
        page = b"<p>a</p><p>b<br>c</p>"
        first = driver.protect(page, ("protect", "both", "class"), 7)
        if driver.protect(page, ("protect", "both", "class"), 7) != first:
            failures.append("the driver gave other bytes for the same seed")
        if driver.protect(page, ("protect", "both", "class"), 8) == first:
            failures.append("the driver gave the same bytes for another seed")
        for combo in COMBOS[1:]:
            out = driver.protect(page, ("content",) + combo[1:], 1)
            if Doc(out, None).tree == Doc(page, None).tree:
                failures.append(f"{combo}: the content pass added nothing: {out!r}")
            elif Doc(out, hiding_classes).tree != Doc(page, hiding_classes).tree:
                failures.append(f"{combo}: decoys not recognized (has their form changed?): "
                                f"{out!r}")
    except DriverFailure as e:
        failures.append(f"driver: {e}")
    finally:
        driver.stop()
    return failures


# ----------------------------------------------------------------- report

def shorten(data, limit=400):
    text = repr(data)
    return text if len(text) <= limit else text[:limit] + f"… ({len(data)} bytes)"


def combo_name(combo):
    return "page" if combo[0] == "page" else "/".join(combo)


def report(name, page, results, hiding_classes, reproduce):
    failing = [r for r in results if r[2] is not None]
    combo, seed, difference, out = failing[0]
    print(f"DIFFERENCE {name}  {combo_name(combo)}  seed={seed}")
    print(f"  input ({len(page)} bytes): {shorten(page)}")
    print(f"  first difference: {difference.line()}")
    if out is not None:
        expected = Doc(page, hiding_classes, positions=True)
        got = Doc(out, hiding_classes, positions=True)
        path = difference.index_path
        if difference.kind != "extra node":
            print(f"  input around it:  {around(page, expected, path, hiding_classes)}")
        print(f"  output around it: {around(out, got, path, hiding_classes)}")
        if len(out) <= 600:
            print(f"  output: {shorten(out, 1200)}")
    # The other outputs of this input, one line for those that differ at one place.
    places = {}
    for other_combo, _, other, _ in failing:
        places.setdefault((other.kind, other.path), []).append((other_combo, other))
    for (kind, _), group in places.items():
        names = ", ".join(combo_name(c) for c, _ in group if c != combo)
        if names and group[0][0] == combo:
            print(f"  the same {kind} at the same place: {names}")
        elif names:
            print(f"  also {names}: {group[0][1].line()}")
    print(f"  reproduce: {reproduce} --cases {name}")
    print()


def summary(counts, totals, signatures, named_failures, limit=30):
    print("Differences per pass, decoy and hiding (outputs that differ / outputs compared):")
    print(f"  {'pass':8} {'decoy':10} {'hide':6} {'differ':>7} {'of':>7}")
    for combo in COMBOS:
        p, d, h = combo if combo[0] != "page" else ("page", "-", "-")
        print(f"  {p:8} {d:10} {h:6} {counts[combo]:7d} {totals[combo]:7d}")
    print(f"  {'all':26} {sum(counts.values()):7d} {sum(totals.values()):7d}")
    if named_failures:
        print("\nSaved real pages and bug-report inputs that differ (outputs):")
        print("  " + ", ".join(f"{n} ({k})" for n, k in named_failures))
    if signatures:
        ranked = sorted(signatures.items(), key=lambda s: (-s[1][0], s[0]))
        print(f"\nKinds of first difference: {len(ranked)} "
              "(outputs; passes; shortest input showing it):")
        for signature, (count, example, passes) in ranked[:limit]:
            names = ",".join(p for p in ("page", "content", "protect") if p in passes)
            print(f"  {count:6d}  {signature} [{names}]: {example[0]} {shorten(example[1], 120)}")
        if len(ranked) > limit:
            rest = sum(c for _, (c, _, _) in ranked[limit:])
            print(f"  {rest:6d}  in {len(ranked) - limit} more kinds")


# ------------------------------------------------------------------- main

def hiding_classes_of(tool):
    out = subprocess.run([tool, "stylesheet", "--site-key", "k1"], check=True,
                         capture_output=True, text=True).stdout
    classes = set(re.findall(r"\.([A-Za-z_][-\w]*)", out.split("{")[0]))
    if not classes:
        raise ValueError(f"no class names in the stylesheet {out!r}")
    return classes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--driver", required=True, help="the vantoro_protect_pages program")
    parser.add_argument("--tool", required=True, help="the vantoro tool (for the hiding classes)")
    parser.add_argument("--corpus", help="folder of saved real pages (*.html)")
    parser.add_argument("--pages", type=int, default=3000, help="generated pages (3000)")
    parser.add_argument("--seed", type=int, help="seed of the generated pages and the passes (1)")
    parser.add_argument("--cases", help="comma-separated case names or patterns (gen-0004?,bug-*)")
    parser.add_argument("--max-report", type=int, default=10,
                        help="differing inputs printed in full: the shortest of each kind of "
                             "difference, most frequent kind first (10)")
    parser.add_argument("--every", action="store_true",
                        help="print differing inputs in order, not one per kind")
    parser.add_argument("--save", help="folder to write the failing generated pages into")
    parser.add_argument("--replay", help="run the pages of this folder (from --save) instead")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="worker processes")
    args = parser.parse_args()

    if html5lib is None:
        message = "html5lib is missing (Debian: apt-get install python3-html5lib)"
        if os.environ.get("CI") == "true":
            print(f"parse_equal: {message}; required when CI=true", file=sys.stderr)
            return 2
        print(f"parse_equal: skipped: {message}", file=sys.stderr)
        return SKIP
    for program in (args.driver, args.tool):
        if not os.access(program, os.X_OK):
            print(f"parse_equal: not an executable program: {program}", file=sys.stderr)
            return 2
    sys.setrecursionlimit(20000)  # deeply nested real pages
    started = time.monotonic()
    hiding_classes = hiding_classes_of(args.tool)

    failures = self_test(args.driver, hiding_classes)
    if failures:
        print("parse_equal: the comparison's self-test failed:", *failures, sep="\n  ")
        return 3

    seed = args.seed
    if args.replay:
        seed_file = os.path.join(args.replay, "seed")
        if seed is None and os.path.exists(seed_file):
            seed = int(open(seed_file).read())
        cases = [(os.path.splitext(f)[0], open(os.path.join(args.replay, f), "rb").read())
                 for f in sorted(os.listdir(args.replay)) if f.endswith(".html")]
    else:
        cases = []
        if args.corpus and os.path.isdir(args.corpus):
            cases += corpus_cases(args.corpus)
        else:
            print(f"note: no saved real pages at {args.corpus!r}; running without them\n")
        cases += [(f"bug-{i + 1:02d}", c.encode()) for i, c in enumerate(BUG_CASES)]
    seed = 1 if seed is None else seed
    if not args.replay:
        cases += generated_cases(seed, args.pages)
    if args.cases:
        patterns = [p for p in args.cases.split(",") if p]
        unmatched = [p for p in patterns if not any(fnmatch.fnmatchcase(n, p) for n, _ in cases)]
        if unmatched:
            print(f"parse_equal: no case is named {', '.join(unmatched)}", file=sys.stderr)
            return 2
        cases = [c for c in cases if any(fnmatch.fnmatchcase(c[0], p) for p in patterns)]
    reproduce = " ".join([sys.argv[0], "--driver", args.driver, "--tool", args.tool,
                          "--seed", str(seed)] +
                         (["--replay", args.replay] if args.replay else []) +
                         (["--corpus", args.corpus] if args.corpus and not args.replay else []) +
                         (["--pages", str(args.pages)] if args.pages > 3000 else []))
    if args.save:
        os.makedirs(args.save, exist_ok=True)
        with open(os.path.join(args.save, "seed"), "w") as f:
            f.write(f"{seed}\n")

    # Big pages first, so that no worker is left with one at the end.
    order = sorted(range(len(cases)), key=lambda i: -len(cases[i][1]))
    context = multiprocessing.get_context("fork")
    with context.Pool(max(1, args.jobs), worker_init, (args.driver, hiding_classes, seed)) as pool:
        results = dict(zip(order, pool.imap(run_case, [cases[i] for i in order], chunksize=4)))

    counts = collections.Counter({c: 0 for c in COMBOS})
    totals = collections.Counter({c: 0 for c in COMBOS})
    signatures = {}  # signature: (outputs, (name, page) of the shortest input, passes)
    first_signature = {}  # case index: signature of its first differing output
    named_failures = []
    for i, (name, page) in enumerate(cases):
        differing = 0
        for combo, _, difference, _ in results[i]:
            totals[combo] += 1
            if difference is None:
                continue
            differing += 1
            counts[combo] += 1
            signature = difference.signature()
            first_signature.setdefault(i, signature)
            count, example, passes = signatures.get(signature, (0, (name, page), set()))
            if len(page) < len(example[1]):
                example = (name, page)
            signatures[signature] = (count + 1, example, passes | {combo[0]})
        if differing and not name.startswith("gen-"):
            named_failures.append((name, differing))
        if differing and args.save and name.startswith("gen-"):
            with open(os.path.join(args.save, name + ".html"), "wb") as f:
                f.write(page)

    if args.every:
        shown = sorted(first_signature)[:max(0, args.max_report)]
    else:
        # One input per kind of difference, the shortest, most frequent kind first.
        by_length = sorted(first_signature, key=lambda i: (len(cases[i][1]), i))
        shortest = {}
        for i in by_length:
            shortest.setdefault(first_signature[i], i)
        ranked = sorted(shortest, key=lambda sig: (-signatures[sig][0], sig))
        shown = [shortest[sig] for sig in ranked][:max(0, args.max_report)]
    for i in shown:
        report(cases[i][0], cases[i][1], results[i], hiding_classes, reproduce)

    summary(counts, totals, signatures, named_failures)
    elapsed = time.monotonic() - started
    print(f"\n{len(cases)} inputs, {sum(totals.values())} outputs compared in {elapsed:.1f} s; "
          f"{len(first_signature)} inputs differ ({len(shown)} shown in full)"
          + (f"; failing generated pages saved in {args.save}" if args.save else ""))
    return 1 if first_signature else 0


if __name__ == "__main__":
    sys.exit(main())
