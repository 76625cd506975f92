// How the page shows a Mifare 1 card's answers: a sector's rows and the
// printable card report. Every rule (access conditions, value blocks, dump
// formats) is the service's; this only lays out what it answered.

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
    line(t('sectorsRead'), `${dump.sectorsRead}/16`),
    line(t('unreadBlocks'), dump.unreadBlocks.length ? dump.unreadBlocks.join(' ') : t('noneFound')),
    Object.assign(document.createElement('h2'), { textContent: t('valueBlocks') }), table);
}
