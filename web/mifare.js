// How the page shows a Mifare 1 card's answers: a sector's rows and the
// printable card report. Every rule (access conditions, value blocks, dump
// formats) is the service's; this only lays out what it answered.

export const hexToBytes = (h) => (h.match(/../g) || []).map((x) => parseInt(x, 16));
export const bytesToHex = (b) => Array.from(b, (x) => x.toString(16).padStart(2, '0')).join('').toUpperCase();

const cells = (tr, texts) => texts.forEach((text, i) => { tr.insertCell().textContent = text; if (i === 1) tr.cells[1].className = 'hex'; });

// The `sector` answer as table rows: block, data (a trailer as key A, access
// bytes, key B), access bits, rights in words, the value a block holds.
export function sectorRows(body, answer, t, rightsText) {
  body.replaceChildren();
  for (const b of answer.blocks) {
    const trailer = b === answer.blocks[answer.blocks.length - 1];
    cells(body.insertRow(), [b.block,
      trailer ? `${b.data.slice(0, 12)} ${b.data.slice(12, 20)} ${b.data.slice(20)}` : b.data,
      b.access ?? '—', b.rights ? rightsText(b.rights) : t('locked'),
      b.value ? `${t('value')} ${b.value.amount} (@${b.value.address})` : '']);
  }
}

// The card report for the operator's records, printed (or saved as PDF) by
// the browser: what the card is, which sectors were read and its value blocks.
export function cardReport(el, { serial, type, desk, dump, values }, t, locale) {
  const line = (label, text) => {
    const p = document.createElement('p');
    p.append(Object.assign(document.createElement('b'), { textContent: `${label}: ` }), text);
    return p;
  };
  const table = document.createElement('table');
  cells(table.createTHead().insertRow(), [t('block'), t('amount'), t('address')]);
  const body = table.createTBody();
  for (const v of values) cells(body.insertRow(), [v.block, v.amount, v.address]);
  if (!values.length) cells(body.insertRow(), [t('noneFound'), '', '']);
  el.replaceChildren(Object.assign(document.createElement('h1'), { textContent: `${t('title')} — ${t('reportTitle')}` }),
    line(t('serial'), serial), line(t('type'), type), line(t('desk'), desk),
    line(t('printed'), new Date().toLocaleString(locale)),
    line(t('sectorsRead'), `${dump.sectors_read}/16`),
    line(t('unread'), dump.unread.length ? dump.unread.join(' ') : t('noneFound')),
    Object.assign(document.createElement('h2'), { textContent: t('valueBlocks') }), table);
}

// Other formats from the JSON document, as orvix writes them.
export function dumpFile(doc, format) {
  if (format === 'json') return doc;
  doc = JSON.parse(doc);
  const blocks = Array.from({ length: 64 }, (_, i) => doc.blocks[String(i)] ?? null);
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
