// The program's facets held against those of Bluesky's own client library
// (@atproto/api, as the rig's lockfile pins it beside the reference server),
// text by text: the same byte ranges, the same links, handles and tags.
//
//   node rich_text_oracle.js PATH/TO/rich_text_facets [TABLE-OUT]
//
// Each row is posted text as the program makes it (repaired and cut), given
// to both. Where ours departs from the library on purpose, the row says why
// and gives what we send instead. Prints both side by side, row by row (also
// into TABLE-OUT when given); exits 1 on any difference.
'use strict'

const { execFileSync } = require('node:child_process')
const fs = require('node:fs')
const path = require('node:path')

const rig = path.join(__dirname, '..', '..', 'rig', 'pds')
const { RichText } = require(require.resolve('@atproto/api', { paths: [rig] }))

const link = (s, e, uri) => ({ index: { byteStart: s, byteEnd: e }, features: [{ $type: 'app.bsky.richtext.facet#link', uri }] })

const long = (n, c) => c.repeat(n)

// [what the row proves, the mood (a string, or a Buffer of its bytes), and
//  for a departure: [why, the facets we send]]
const rows = [
  ['the issue\'s example', 'Reading #atproto docs at https://atproto.com with @alice.test'],
  // Links
  ['a bare domain is linked as https, its full stop left out', 'see atproto.com.'],
  ['a path, a query, and a trailing semicolon left out', 'at a.b.co.uk/path?x=1&y=(2);'],
  ['a closing parenthesis kept where the address opens one', '(see https://en.wikipedia.org/wiki/Pie_(food))'],
  ['a closing parenthesis dropped where it opens none, after a "("', '(https://atproto.com/specs)'],
  ['one trailing mark only, then the parenthesis', '(example.com/x).'],
  ['a scheme in capitals is passed over whole', 'go HTTPS://EXAMPLE.COM or Http://a.org now'],
  ['a domain in capitals is not on the list', 'Example.COM and example.com'],
  ['an e-mail address is no link', 'mail bob@example.com today'],
  ['a last label not on the list', 'foo.notatld and v1.2 and file.txt and x.test'],
  ['white space as JavaScript sees it: tab, line feed, no-break space, U+FEFF', 'a\tatproto.com\nb.org\u00a0c.net\ufeffd.io'],
  ['U+0085 is no white space there', 'a\u0085atproto.com'],
  ['only after white space or "(": not after a quotation mark or a letter', '"atproto.com" xatproto.com [atproto.com]'],
  ['http with a dotted host and a port', 'http://127.0.0.1:2583/xrpc/_health?x=y!'],
  ['an address runs to the next white space, marks and all', 'https://x.org/a,b;c:d!e?f.'],
  ['a mention inside an address starts at its "(" too', 'https://x.org/(@alice.test)'],
  ['a bare domain that starts with http', 'httpbin.org/get',
    ['the library sends "httpbin.org/get", no URI: the server would refuse the post',
      [link(0, 15, 'https://httpbin.org/get')]]],
  ['an address with nothing but "/" after its scheme', 'see http:///nohost and https://.',
    ['the library sends "http:///nohost" and "https://", no URIs: the server would refuse the post', []]],
  // Mentions
  ['mentions after white space and "(", full stop and parenthesis left out', '@alice.test, (@bob.test) and @carol.test.'],
  ['a mention needs white space or "(" before it', 'x@alice.test "@bob.test'],
  ['an underscore ends no handle: the whole is passed over', '@alice_x.test @bob.test'],
  ['handles on the list of domains, and ones not on it', '@alice.com @alice.COM @localhost @alice.test\'s'],
  ['a hyphen first, digits', '@-alice.test @4.test'],
  // Tags and cashtags
  ['tags, and a full-width sign', '#tag ＃全角 #日本語'],
  ['digits alone are no tag; a letter among them is', '#123 #1a #2024年'],
  ['trailing punctuation is left out, inner kept', '#tag!! #a.b #c-d… #!!'],
  ['a tag needs white space before it, or the start', 'a#tag (#tag ##tag #a#b'],
  ['invisible characters end a tag; U+FE0F first makes none', '#a\u200bb #c\u00add #\ufe0f\u20e3 #e\ufe0f'],
  ['64 code units are a tag, 65 are not', '#' + long(64, 'a') + ' #' + long(65, 'b')],
  ['code units, not characters: 32 emoji are 64', '#' + long(32, '\u{1F600}') + ' #' + long(33, '\u{1F600}')],
  ['cashtags: case, marks after, parentheses', '$AAPL $aapl. ($BTC) $BRK\'s $X\u2019 $a1'],
  ['not cashtags: too long, a digit first, a hyphen after, a price', '$TOOLONG $1A $ABC- $5 x$AB'],
  // Where the text is not plain ASCII
  ['emoji, a joined emoji and combining marks before facets',
    '\u{1F600} #tag e\u0301 https://example.com \u{1F469}\u200d\u{1F467} @alice.test \u00e9$ABC'],
  ['bytes that are not UTF-8 are repaired first', Buffer.from('caf\xe9 #tag \xff atproto.com', 'latin1')],
  // At the cut
  ['a link that the cut reached is left plain', long(270, 'x') + ' https://atproto.com/specs/lexicon and more',
    ['ours leaves plain a facet that reaches the cut\'s "…"', []]],
  ['a tag that the cut reached is left plain', long(292, 'y') + ' #atproto more',
    ['ours leaves plain a facet that reaches the cut\'s "…"', []]],
  ['a facet well before the cut is kept', 'https://a.com #b ' + long(300, 'z')],
  ['a tag ending just before an ellipsis of the mood\'s own is kept: nothing was cut', long(290, 'w') + ' #tag\u2026'],
]

// Every top-level domain of the library's list as the end of a bare
// address, and each with a letter more, which is mostly no domain: texts of
// 250 characters at most, shown only when they differ.
const tlds = require(require.resolve('tlds', { paths: [path.dirname(require.resolve('@atproto/api', { paths: [rig] }))] }))
const domainWords = tlds.flatMap((tld) => [`a.${tld}`, `b.${tld}x`, `@c.${tld}`])
for (let i = 0, part = []; i < domainWords.length; i++) {
  part.push(domainWords[i])
  if (part.join(' ').length > 230 || i === domainWords.length - 1) {
    rows.push([`the list of domains, from ${part[0]}`, part.join(' '), undefined, true])
    part = []
  }
}

// Texts made at random, from a fixed seed, of the pieces the rules turn on:
// shown only when they differ.
const pieces = ['@', '#', '＃', '$', '(', ')', '.', ',', '!', '?', ';', ':', '/', '-', '_', '\'', '"', '\u2019',
  'a', 'Z', 'h', 'x', '1', '42', 'AAPL', 'bsky', 'com', 'test', 'social', 'http://', 'https://', 'HTTP://', 'www.',
  ' ', ' ', ' ', '\n', '\t', '\u00a0', '\ufeff', '\u0085', '\u3000', '\u2026', '\u{1F600}', 'e\u0301', '\u200b',
  '\u00ad', '\ufe0f', '\u20e3', '日本', '\u2014']
let seed = 36
const random = (n) => {
  seed = (seed * 1103515245 + 12345) % 2147483648
  return Math.floor(seed / 65536) % n
}
for (let i = 0; i < 20000; i++) {
  let text = ''
  for (let k = 1 + random(i % 10 ? 80 : 240); k > 0; k--) text += pieces[random(pieces.length)]
  rows.push([`random text ${i}`, text, undefined, true])
}

function library(text) {
  const rt = new RichText({ text })
  rt.detectFacetsWithoutResolution()
  return (rt.facets || []).map((f) => ({ index: f.index, features: f.features }))
}

// The library's facets with our departures from it made, for the rows that
// give none by hand: a link that is no URI by the lexicon's rule is left
// plain, unless it is a bare domain taken as written, which is linked as
// https:// where its last label is on the list; and in a cut text, what
// reaches the "…" is left plain.
const isValidUri = (uri) => /^\w+:(?:\/\/)?[^\s/][^\s]*$/.test(uri)
function withDepartures(facets, ours) {
  const ellipsis = Buffer.byteLength(ours.text) - 3
  return facets.flatMap((f) => {
    if (ours.cut && f.index.byteEnd >= ellipsis) return []
    const feature = f.features[0]
    if (!feature.$type.endsWith('#link') || isValidUri(feature.uri)) return [f]
    const domain = /^[a-z][a-z0-9]*(\.[a-z0-9]+)+/i.exec(feature.uri)
    if (/^https?:\/\//i.test(feature.uri) || !domain || !tlds.includes(domain[0].split('.').pop())) return []
    return [{ index: f.index, features: [{ ...feature, uri: 'https://' + feature.uri }] }]
  })
}

const input = Buffer.concat(rows.flatMap(([, mood]) => [Buffer.from(mood), Buffer.from([0])]))
const lines = execFileSync(process.argv[2], { input, maxBuffer: 1 << 28 }).toString('utf8').trim().split('\n')
if (lines.length !== rows.length) throw new Error(`${lines.length} answers for ${rows.length} rows`)

const show = (facets) =>
  facets.length
    ? facets.map((f) => `[${f.index.byteStart},${f.index.byteEnd}) ${f.features[0].$type.split('#')[1]} ${JSON.stringify(Object.values(f.features[0])[1])}`).join('; ')
    : '(none)'
const out = []
let failed = 0
let departed = 0
rows.forEach(([proves, , departs, quiet], i) => {
  const ours = JSON.parse(lines[i])
  const theirs = library(ours.text)
  const expected = departs ? departs[1] : withDepartures(theirs, ours)
  if (JSON.stringify(expected) !== JSON.stringify(theirs)) departed++
  const same = JSON.stringify(ours.facets) === JSON.stringify(expected)
  if (!same) failed++
  if (same && quiet) return
  out.push(`${same ? 'ok  ' : 'FAIL'} ${proves}\n     text:    ${JSON.stringify(ours.text.length > 80 ? '…' + ours.text.slice(-60) : ours.text)}\n` +
    `     ours:    ${show(ours.facets)}\n     library: ${show(theirs)}` + (departs ? `\n     departs: ${departs[0]}` : ''))
})
const quiet = rows.filter((row) => row[3]).length
const table = out.join('\n') + `\n${rows.length - failed} of ${rows.length} rows as expected` +
  ` (${quiet} rows of the list of domains and of random texts shown only where they differ);` +
  ` ${departed} rows where ours departs from the library\n`
process.stdout.write(table)
if (process.argv[3]) fs.writeFileSync(process.argv[3], table)
process.exit(failed ? 1 : 0)
