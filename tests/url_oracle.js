// url/url.cpp against Node.js's URL (new URL(value, base).href), which
// follows the WHATWG URL Standard as browsers do. Usage:
//   node tests/url_oracle.js PROBE
// where PROBE is tests/url_probe.cpp built. The values and bases are random
// (from a fixed seed) pieces put together where parsers go wrong, and a
// list of ordinary links against ordinary bases. Prints the first
// differences and a summary; exits 1 on any difference, 77 when it cannot
// run here.
'use strict';
const fs = require('fs');
const { spawnSync } = require('child_process');

const skip = (why) => { console.log(`skipped: ${why}`); process.exit(77); };
const probe = process.argv[2];
try {
  fs.accessSync(probe, fs.constants.X_OK);
} catch (e) {
  skip(`no probe to run at ${probe}`);
}
// Node 20 is the reference; later versions follow later editions of the
// standard, whose changes are not differences of this parser.
const major = Number(process.versions.node.split('.')[0]);
if (major !== 20) skip(`node ${process.versions.node} is not the reference (20)`);

// mulberry32: a small seeded generator, so that every run makes the same cases.
let seed = 0x5eed1234;
function random() {
  seed = (seed + 0x6d2b79f5) >>> 0;
  let t = seed;
  t = Math.imul(t ^ (t >>> 15), t | 1);
  t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
  return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
}
const below = (n) => Math.floor(random() * n);
const pick = (list) => list[below(list.length)];
const chance = (p) => random() < p;
const anyCase = (s) => [...s].map((ch) => (chance(0.5) ? ch.toUpperCase() : ch.toLowerCase())).join('');

// Byte strings: a piece is a string (taken as UTF-8) or an array of bytes
// (invalid UTF-8 on purpose).
const invalidBytes = [[0xff], [0xc3], [0xe6, 0x97], [0x80], [0xed, 0xa0, 0x80], [0xf0, 0x9f], [0xc0, 0xaf], [0xf4, 0x90, 0x80, 0x80]];
const noise = ['\t', '\n', '\r', ' ', '\x01', '\x1f', '\x7f', '%', '%zz', '%2', '%41', '%C3%A9', '%00', '^', '|', '{', '}',
  '`', "'", '"', '<', '>', '\\', '@', ':', '[', ']', 'é', '日本', 'ß', 'ς', '\uFFFD', '\u00AD', 'Ａ', '。', '#', '?', '/', '..', '.'];
const noiseOrBytes = () => (chance(0.12) ? pick(invalidBytes) : pick(noise));

const schemes = ['http', 'https', 'mailto', 'javascript', 'file', 'data', 'ftp', 'ws', 'wss', 'foo', 'a+b-c.d', 'about', 'blob'];
const slashes = ['', '/', '//', '///', '\\\\', '/\\', '\\/', '\\', '////'];
const userinfos = ['user@', 'user:pass@', ':@', '@', 'a:b:c@', 'a@b@', 'us er:p%ss@', 'é:日@', '%40:x@', 'u:@', 'a`b{}|@'];
const hosts = ['example.com', 'EXAMPLE.COM', 'Example.Com.', 'a.b.c', 'localhost', 'LOCALHOST', '', 'x',
  '127.0.0.1', '0x7f.1', '0300.0250.1', '4294967295', '4294967296', '1.2.3.4.', '1.2.3.4..', '999999999999',
  '0x', '0x.0x.0', '1.2.3.256', '256.1', '1.256', '09', '0x7f.0.0.0x1', '08.1', '1..2', '.1', 'a.1', '1.a', '1.0x',
  '[::1]', '[::]', '[1:2::3]', '[::ffff:1.2.3.4]', '[1:2:3:4:5:6:7:8]', '[1:0:0:2::3:0]', '[0:0:1:0:0:1:0:0]',
  '[::1:2:3:4:5:6:7]', '[1::2::3]', '[1:2:3:4:5:6:7:8:9]', '[::1.2.3]', '[::1.2.3.04]', '[FFFF::A]', '[:1]', '[1:]',
  '[::1', '::1', '[::1]x', '[12345::]', '[::1.2.3.4.5]', '[::.1.2.3.4]', '[1:2:3:4:5:6:.1.2]',
  'münchen.de', '日本.jp', 'ÉXAMPLE.com', '日本。jp', 'ｅｘａｍｐｌｅ．ｃｏｍ', '１２７．０．０．１', 'faß.de', 'σς.gr',
  'xn--mnchen-3ya.de', 'XN--WGV71A.jp', 'xn--', 'xn--a.com', 'xn--zca.de', 'a%41b.com', '%65xample.com', 'a%2eb',
  'ex%C3%A9.com', 'a%zz.com', 'a%.com', 'ex ample', 'ex_ample.com', 'a<b', 'a^b', 'a|b', 'a{b}', 'a\x01b', 'a\x7fb',
  'a..b', '.a', 'a.', '%2e', 'ex%00ample', 'a!b$c&d', 'ab--c.com', '-a-.com', 'a.xn--wgv71a', '日本.xn--wgv71a',
  '-日本.jp', 'ex_ample日本', 'xn----kn6bt1b.jp', 'xn--;0-bua', 'xn--}-kn6bt1b', 'XN--MNCHEN-3YA.de', 'xn--n--mnchen-3ya-hcl',
  '\u00ADxn--;0-bua', 'xn--}-kn6bt1bＡ', 'xn----kn6bt1b\u00AD.jp',
  // Where ICU reports an error that the standard leaves off: a label over
  // 63 bytes (ASCII, or once converted), a domain over 253, an empty label.
  'é' + 'a'.repeat(62) + '.com', 'a'.repeat(64) + '.日本', '日本.' + 'a'.repeat(63), 'xn--' + 'a'.repeat(60) + '-d.jp',
  ('é' + 'a'.repeat(40) + '.').repeat(7) + 'jp', 'é..a', '日本..', 'é.-a-.com', 'ab--日本.jp'];
const ports = [':80', ':443', ':0080', ':65535', ':65536', ':', ':0', ':21', ':8080', ':99999999999999', ':1a', ':-1', ':80:80'];
const segments = ['a', 'b', 'page.html', '..', '.', '%2e', '%2E', '%2e.', '%2E.', '.%2e', '%2e%2e', '...', '.a', 'C:', 'c|',
  'C|', 'D:', 'a:b', '', 'é', '日本', 'a b', 'a%20b', '%', '%zz', '^', '|', '{x}', '`', "'", '"', '<>', 'ß', 'ς', '\uFFFD',
  '@', ':', '[', ']', '::1', '0x7f.1', 'index.php', 'x;y=z', '~u', '\x01', '\x7f'];
const queryPieces = ['', 'q', 'a=b&c=d', 'x y', "it's", '"q"', '<>', '`', '{}', '|', '^', 'é', '日本', '%', '%zz', '?', '/',
  '\\', '#', '\x01', "'x'"];
const fragmentPieces = ['', 'f', 'top', 'a b', '"', '<>', '`', '{}', '#', '?', 'é', '%zz', "'", '\x01', '\x7f', '^|'];

function join(pieces, separators) {
  const out = [];
  pieces.forEach((piece, i) => {
    if (i > 0) out.push(pick(separators));
    out.push(piece);
  });
  return out;
}

// A value: scheme, slashes, authority, path, query and fragment, each left
// out at times, with noise put in here and there.
function randomValue(absolute) {
  let parts = [];
  if (absolute || chance(0.6)) {
    let scheme = pick(schemes);
    if (chance(0.5)) scheme = anyCase(scheme);
    if (chance(0.03)) scheme = pick(['1http', 'ht tp', 'h\ttp', 'é', '']);
    parts.push(scheme + ':');
  }
  parts.push(pick(slashes));
  if (chance(0.7)) {
    if (chance(0.2)) parts.push(pick(userinfos));
    parts.push(pick(hosts));
    if (chance(0.25)) parts.push(pick(ports));
  }
  const count = below(5);
  if (count > 0) {
    if (chance(0.7)) parts.push(pick(['/', '\\']));
    const segs = [];
    for (let i = 0; i < count; i++) segs.push(chance(0.15) ? anyCase(pick(segments)) : pick(segments));
    parts.push(...join(segs, ['/', '/', '/', '\\']));
    if (chance(0.2)) parts.push(pick(['/', '\\']));
  }
  if (chance(0.3)) parts.push('?', ...join(Array.from({ length: 1 + below(3) }, () => pick(queryPieces)), ['&', '']));
  if (chance(0.25)) parts.push('#', ...join(Array.from({ length: 1 + below(3) }, () => pick(fragmentPieces)), ['']));
  const noisy = chance(0.3) ? 1 + below(3) : 0;
  for (let i = 0; i < noisy; i++) parts.splice(below(parts.length + 1), 0, noiseOrBytes());
  if (chance(0.05)) parts.unshift(pick([' ', '\t', '\x01', ' \x1f ']));
  if (chance(0.05)) parts.push(pick([' ', '\n', '\x7f', ' \t']));
  return parts;
}

const fixedBases = ['http://example.com/a/b/c.html?q#f', 'https://user:pw@www.example.org:8443/dir/page.html',
  'https://www.example.org/dir/page.html', 'http://example.com', 'http://[::1]:8080/x/', 'http://1.2.3.4/a/',
  'file:///C:/dir/file.txt', 'file:///home/u/a.html', 'file://host/share/x', 'file:///', 'file:///C:', 'file:///C:/',
  'mailto:someone@example.com', 'javascript:void(0)', 'data:text/html,hello', 'about:blank', 'foo://host/p/q?x',
  'foo:/p/q', 'foo:opaque?x#y', 'foo://', 'ws://h/chat', 'ftp://ftp.example.com/pub/', 'http://xn--mnchen-3ya.de/',
  'http://a/b/c/d;p?q'];

function randomBase() {
  if (chance(0.15)) return [];
  if (chance(0.8)) return [pick(fixedBases)];
  return randomValue(true);
}

// Ordinary links against ordinary bases, as pages have them.
const ordinaryLinks = ['page.html', '../a/b?x#y', '//cdn.example/x', '?q', '#f', '/abs', './x', '../../../up', 'a/b/../c',
  '/wiki/Page_123?x=1#s', 'other.html', 'https://Example.COM/a/./b/../c', 'mailto:a@b.c', 'javascript:void(0)',
  'HTTP://EXAMPLE.COM:80/', 'dir/', '', ' x ', 'http:page', 'http:/x', 'https:', '//', '///x', 'tel:+1-555', '#',
  '?', 'index.php?a=1&b=2', 'img/a b.png', 'ümlaut.html', '%7Euser/', 'file.html#sec 2',
  '..', '../', '.', '../../../../../../../../../../x', '../../..?q', 'a/../../b/./../../c', '%2e%2E/x', '.././..',
  'C:/x', '../C|/y', '/D:/../..', 'x/..', '\\..\\..\\z'];
const ordinaryBases = ['https://www.example.org/dir/page.html', 'http://example.com/', 'http://example.com/a/b/c?q=1#f',
  'https://host:8443/x', 'file:///C:/dir/f.html',
  // Deep paths, empty segments and drive letters, for ".." that goes back
  // through a base's path.
  'http://h/a/b/c/d/e/f/g/h/i?q#f', 'http://h//a//b//', 'file:///C:/a/b/c/d', 'file:///C:', 'file://h/a/b/c/',
  'foo://h/a/b/c/d', 'foo:/a/b/c', 'http://u:p@h:81/' + 'x/'.repeat(40) + 'y'];

function toBuffer(parts) {
  return Buffer.concat(parts.map((piece) => (Array.isArray(piece) ? Buffer.from(piece) : Buffer.from(piece, 'utf8'))));
}

const cases = [];
for (const value of ordinaryLinks) for (const base of ordinaryBases) cases.push([[value], [base]]);
while (cases.length < 40000) cases.push([randomValue(false), randomBase()]);

// The records: value and base as bytes, each ended by a 0 byte. A 0 byte
// cannot stand inside either, so the generator puts none there.
const records = [];
const inputs = [];
for (const [valueParts, baseParts] of cases) {
  const value = toBuffer(valueParts);
  const base = toBuffer(baseParts);
  records.push(value, Buffer.from([0]), base, Buffer.from([0]));
  inputs.push([value, base]);
}
const run = spawnSync(probe, [], { input: Buffer.concat(records), maxBuffer: 1 << 30 });
if (run.error || run.status !== 0) {
  const why = run.error ? run.error.message : `status ${run.status}, signal ${run.signal}`;
  console.log(`the probe failed (${why})\n${run.stderr ? run.stderr.toString() : ''}`);
  process.exit(1);
}
const answers = run.stdout.toString('latin1').split('\0');
answers.pop();

// Node 20 departs from the standard (and from browsers) in five ways, all
// far from ordinary links. Where the standard's answer follows from node's,
// it is put in node's place; where it does not, the case is left out. The
// summary says how many cases each took.
const special = new Set(['http:', 'https:', 'ws:', 'wss:', 'ftp:', 'file:']);
const cleaned = (s) => s.replace(/^[\x00-\x20]+|[\x00-\x20]+$/g, '').replace(/[\t\n\r]/g, '');
const parseOrNull = (s) => { try { return new URL(s); } catch (e) { return null; } };
const insertAt = (href, pattern, text) => {
  const at = href.search(pattern);
  return at < 0 ? href + text : href.slice(0, at) + text + href.slice(at);
};
function endsInDotDotOnEmpty(text, href) {
  const url = new URL(href);
  if (special.has(url.protocol) || url.pathname !== '') return false;
  const path = cleaned(text).split(/[?#]/)[0].replace(/^[A-Za-z][A-Za-z0-9+.-]*:/, '').replace(/^\/\/[^/]*/, '');
  return /(^|\/)(\.|%2e){2}$/i.test(path);
}
// Whether node wrote a "." or ".." segment into a path (parsing node's
// answer again could tidy it up).
function hasDotSegment(href) {
  const rest = href.replace(/^[^:]*:/, '');
  if (href === 'FAILURE' || !rest.startsWith('/')) return false;
  const path = rest.replace(/^\/\/[^/?#]*/, '').replace(/^\/\.\/\//, '//').split(/[?#]/)[0];
  return path.split('/').some((segment) => /^(\.|%2e){1,2}$/i.test(segment));
}
const departures = {
  // A value without a scheme that has a '#' somewhere but not first,
  // against a base with an opaque path: node resolves "x#y" against
  // "mailto:a" to "mailto:a/x#y"; the standard's no-scheme state takes
  // nothing but a fragment against an opaque path, and fails.
  'a fragment after a path against an opaque path': (v, b, href) => {
    const base = b === undefined ? null : parseOrNull(b);
    if (!base || base.href.startsWith(base.protocol + '/')) return undefined;
    const value = cleaned(v);
    if (/^[A-Za-z][A-Za-z0-9+.-]*:/.test(value) || value.startsWith('#') || !value.includes('#')) return undefined;
    return 'FAILURE';
  },
  // A non-special URL whose path ends in a ".." segment that finds the path
  // empty: node leaves the path empty ("foo:/.." gives "foo:"), where the
  // standard appends an empty segment after a final ".." ("foo:/"). A base
  // so misread misleads node's resolution against it: such cases are left
  // out.
  'a final ".." on an empty non-special path': (v, b, href) => {
    const base = b === undefined ? null : parseOrNull(b);
    if (base && endsInDotDotOnEmpty(b, base.href)) return null;
    return href !== 'FAILURE' && endsInDotDotOnEmpty(v, href) ? insertAt(href, /[?#]/, '/') : undefined;
  },
  // A base whose query is empty ("http://a/b?"), and a value that is empty
  // or only a fragment: the standard copies the base's query, empty or not
  // ("http://a/b?#x"); node drops an empty one.
  'an empty query of the base': (v, b, href) => {
    const base = b === undefined ? null : parseOrNull(b);
    if (href === 'FAILURE' || !base || !base.href.split('#')[0].endsWith('?')) return undefined;
    // A special base's scheme before the value changes nothing ("http:#x").
    const value = cleaned(v).replace(/^([A-Za-z][A-Za-z0-9+.-]*):/, (whole, scheme) =>
      (special.has(base.protocol) && `${scheme.toLowerCase()}:` === base.protocol ? '' : whole));
    if (value !== '' && !value.startsWith('#')) return undefined;
    return href.split('#')[0].endsWith('?') ? undefined : insertAt(href, /#/, '?');
  },
  // A file URL whose first segment starts with a letter and ':' or '|' but
  // is longer ("/a:b/"): node takes it for a drive letter, keeping it
  // against a later ".." and copying it from a base for a value that
  // starts with one '/'. What the standard gives cannot be read off node's
  // answer, so the case is left out.
  'a longer first segment taken for a drive letter': (v, b, href) => {
    const longer = (url) => url && url.protocol === 'file:' && /^\/[A-Za-z][:|][^/]/.test(url.pathname);
    const url = parseOrNull(href);
    if (!url || url.protocol !== 'file:') return undefined;
    if (b !== undefined && longer(parseOrNull(b))) return null;
    return longer(url) && /(\.|%2e){2}/i.test(v + (b || '')) ? null : undefined;
  },
  // A "." or ".." segment after a segment that starts with a dot
  // ("/x/.a/../b"): node leaves them in the path, where the standard never
  // leaves one. The case is left out, and so is one whose base node so
  // misreads.
  'a dot segment left in the path': (v, b, href) => {
    const base = b === undefined ? null : parseOrNull(b);
    return hasDotSegment(href) || (base && hasDotSegment(base.href)) ? null : undefined;
  },
};
const taken = Object.fromEntries(Object.keys(departures).map((name) => [name, 0]));

const show = Number(process.env.URL_ORACLE_SHOW || 10);
const decoder = new TextDecoder();
let differences = 0;
let compared = 0;
inputs.forEach(([value, base], i) => {
  const v = decoder.decode(value);
  const b = base.length ? decoder.decode(base) : undefined;
  let expected;
  try {
    expected = new URL(v, b).href;
  } catch (e) {
    expected = 'FAILURE';
  }
  for (const [name, standard] of Object.entries(departures)) {
    const answer = standard(v, b, expected);
    if (answer === undefined || answer === expected) continue;
    taken[name]++;
    expected = answer;
    if (expected === null) break;
  }
  if (expected === null) return;
  compared++;
  const got = answers[i];
  if (got === expected) return;
  if (++differences <= show) {
    console.log(`value ${JSON.stringify(v)} base ${JSON.stringify(b)}\n  expected: ${expected}\n  probe:    ${got}`);
  }
});
if (answers.length !== inputs.length) {
  console.log(`the probe answered ${answers.length} of ${inputs.length} cases`);
  differences = Math.max(differences, 1);
}
for (const [name, count] of Object.entries(taken)) {
  if (count) console.log(`(node 20's departure "${name}": ${count} cases)`);
}
console.log(`url oracle: ${compared - differences} passed, ${differences} failed`);
process.exit(differences ? 1 : 0);
