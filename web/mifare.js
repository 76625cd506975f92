// Mifare 1 card rules for the page: access conditions in the page's words,
// and the dump formats orvix writes, made from the JSON document the service
// answers with (raw image, emulator text, sector text).

const WHO = ['never', 'A', 'B', 'A|B'];
const N = 0, A = 1, B = 2, AB = 3;
// Data blocks by C1C2C3: read, write, increment, decrement/transfer/restore.
const DATA = [[AB, AB, AB, AB], [AB, N, N, AB], [AB, N, N, N], [B, B, N, N],
  [AB, B, N, N], [B, N, N, N], [AB, B, B, AB], [N, N, N, N]];
// Trailer by C1C2C3: key A write, access read, access write, key B read, key B write.
const TRAILER = [[A, A, N, A, A], [A, A, A, A, A], [N, A, N, A, N], [B, AB, B, N, B],
  [B, AB, N, N, B], [N, AB, B, N, N], [N, AB, N, N, N], [N, AB, N, N, N]];

export const hexToBytes = (h) => (h.match(/../g) || []).map((x) => parseInt(x, 16));
export const bytesToHex = (b) => Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('').toUpperCase();

const who = (w, t) => (w === N ? t('never') : WHO[w]);
export const bits = (c) => [(c >> 2) & 1, (c >> 1) & 1, c & 1].join('');
export function dataRights(c, t) {
  const r = DATA[c & 7];
  return `${t('read')} ${who(r[0], t)} · ${t('write')} ${who(r[1], t)} · ${t('increment')} ${who(r[2], t)} · ${t('decrement')} ${who(r[3], t)}`;
}
export function trailerRights(c, t) {
  const r = TRAILER[c & 7];
  return `${t('keyA')} ${t('write')} ${who(r[0], t)} · ${t('accessBits')} ${t('read')} ${who(r[1], t)} ${t('write')} ${who(r[2], t)}` +
    ` · ${t('keyB')} ${t('read')} ${who(r[3], t)} ${t('write')} ${who(r[4], t)}`;
}

// The 64 blocks of a JSON dump (hex or null).
export const dumpBlocks = (doc) => Array.from({ length: 64 }, (_, i) => doc.blocks[String(i)] ?? null);

// Other formats from the JSON document, as orvix writes them.
export function dumpFile(doc, format) {
  if (format === 'json') return doc;
  doc = JSON.parse(doc);
  const blocks = dumpBlocks(doc);
  if (format === 'mfd') return new Uint8Array(blocks.flatMap((h) => (h ? hexToBytes(h) : Array(16).fill(0))));
  if (format === 'eml') return blocks.map((h) => (h || '0'.repeat(32)) + '\n').join('');
  let out = '';
  for (let s = 0; s < 16; ++s) {
    out += `+Sector: ${s}\n`;
    for (let b = s * 4; b < s * 4 + 4; ++b) {
      let line = blocks[b] || '-'.repeat(32);
      const keys = doc.SectorKeys?.[String(s)] || {};
      if (blocks[b] && b % 4 === 3) {
        if (!keys.KeyA) line = '-'.repeat(12) + line.slice(12);
        if (!keys.KeyB) line = line.slice(0, 20) + '-'.repeat(12);
      }
      out += line + '\n';
    }
  }
  return out;
}
