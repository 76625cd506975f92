// The operator's page: one WebSocket session with orvix serve, a reader
// chosen and held, and the card's blocks, sectors, values and dumps.
import { Client } from './client.js';
import { t, translate, switchLanguage } from './i18n.js';
import { bits, dataRights, trailerRights, dumpFile, bytesToHex } from './mifare.js';

const $ = (id) => document.getElementById(id);
const state = { port: null, card: null };

function log(kind, text, cls = '') {
  const li = document.createElement('li');
  li.className = `${kind} ${cls}`;
  const time = new Date().toTimeString().slice(0, 8);
  // Long answers (sectors, dumps) shortened on screen, whole in the tooltip.
  li.textContent = `${time} ${kind === 'out' ? '→' : kind === 'in' ? '←' : '•'} ${text.length > 240 ? `${text.slice(0, 240)} …` : text}`;
  if (text.length > 240) li.title = text;
  $('log').prepend(li);
  while ($('log').children.length > 500) $('log').lastChild.remove();
}

const client = new Client(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ws`, {
  onLog: log,
  onState: (up) => { $('status').textContent = t(up ? 'connected' : 'disconnected'); $('status').className = `status ${up ? 'ok' : 'bad'}`; },
  onEvent: (e) => { if (e.event === 'card') showCard(e.present ? e : null, true); },
});

function showCard(card, fromEvent = false) {
  const was = state.card;
  state.card = card?.serial ?? null;
  $('card-type').textContent = card?.type ?? '—';
  $('card-serial').textContent = card?.serial ?? '—';
  // The first event after watching reports the field as it is: news only when it changed.
  $('card-state').textContent = card ? (fromEvent && was !== state.card ? t('cardArrived') : '')
    : t(fromEvent && was ? 'cardRemoved' : 'noCard');
  $('card-state').className = `badge ${card ? 'ok' : 'bad'}`;
}

// Runs a button's work; a refusal is shown beside it and in the log.
function action(button, work, out) {
  $(button).addEventListener('click', async () => {
    $(button).disabled = true;
    try {
      await work();
    } catch (e) {
      const text = `${t('error')} ${e.code ?? ''}: ${e.message}`;
      if (out) { $(out).textContent = text; $(out).classList.add('bad'); }
      log('error', text, 'bad');
    } finally {
      $(button).disabled = false;
    }
  });
}
const key = () => ({ key_type: $('key-type').value, key: $('key').value.trim() });
const num = (id) => Number($(id).value);

async function listReaders() {
  const { ports } = await client.call('readers');
  const body = $('reader-list');
  body.replaceChildren();
  // Ports with no device behind them are one line, not ten.
  const missing = ports.filter((p) => p.verdict === 'missing').map((p) => p.name);
  for (const p of ports.filter((p) => p.verdict !== 'missing')) {
    const tr = body.insertRow();
    tr.className = p.verdict === 'ok' ? 'ok' : '';
    const radio = Object.assign(document.createElement('input'), { type: 'radio', name: 'port', value: p.name });
    radio.checked = p.name === state.port || (!state.port && p.verdict === 'ok' && !body.querySelector(':checked'));
    tr.insertCell().append(radio);
    tr.insertCell().textContent = p.name;
    tr.insertCell().textContent = p.held ? `${p.verdict}: ${p.held}` : `${p.verdict} ${p.detail || ''}`;
    tr.title = p.path;
  }
  if (missing.length) {
    const tr = body.insertRow();
    tr.className = 'missing';
    for (const text of ['', missing.join(' '), t('missing')]) tr.insertCell().textContent = text;
  }
}

action('btn-refresh', listReaders, 'held');
action('btn-open', async () => {
  const port = document.querySelector('input[name=port]:checked')?.value;
  const r = await client.call('open', { port, client: t('title') });
  state.port = r.port;
  $('held').textContent = `${t('held')}: ${r.port} (${r.baud} bit/s)`;
  $('held').classList.remove('bad');
  await client.call('watch', { on: true });
  try { showCard(await client.call('card')); } catch { showCard(null); }
}, 'held');
action('btn-close', async () => {
  await client.call('close', { port: state.port ?? undefined });
  state.port = null;
  $('held').textContent = '';
  showCard(null);
}, 'held');

action('btn-read', async () => {
  const r = await client.call('read_block', { block: num('blk-no'), ...key() });
  $('blk-data').value = r.data;
});
action('btn-write', async () => {
  const r = await client.call('write_block', { block: num('blk-no'), data: $('blk-data').value.trim(), ...key() });
  $('blk-data').value = r.data;
});

async function value(action, withAmount) {
  $('val-result').classList.remove('bad');
  const args = { action, block: num('val-block'), ...key() };
  if (withAmount) args.amount = num('val-amount');
  const r = await client.call('value', args);
  $('val-result').textContent = String(r.value);
}
action('btn-value-read', () => value('read', false), 'val-result');
action('btn-topup', () => value('topup', true), 'val-result');
action('btn-charge', () => value('charge', true), 'val-result');
action('btn-value-set', () => value('set', true), 'val-result');

action('btn-sector', async () => {
  $('sec-note').textContent = '';
  const r = await client.call('sector', { sector: num('sec-no'), ...key() });
  const body = $('sector-table');
  body.replaceChildren();
  for (const b of r.blocks) {
    const tr = body.insertRow();
    const trailer = b.block % 4 === 3;
    const c = b.access === null ? null : parseInt(b.access, 2);
    tr.insertCell().textContent = b.block;
    const data = tr.insertCell();
    data.className = 'hex';
    data.textContent = trailer ? `${b.data.slice(0, 12)} ${b.data.slice(12, 20)} ${b.data.slice(20)}` : b.data;
    tr.insertCell().textContent = c === null ? '—' : bits(c);
    tr.insertCell().textContent = c === null ? t('locked') : (trailer ? trailerRights : dataRights)(c, t);
    tr.insertCell().textContent = b.value ? `${t('value')} ${b.value.amount} (@${b.value.address})` : '';
  }
  $('sec-note').textContent = `${t('accessBits')} ${r.access_bytes}` +
    (r.access_valid ? '' : ` — ${t('locked')}`) + (r.locks_keys_forever ? ` — ${t('keysForever')}` : '');
}, 'sec-note');

function download(name, content) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([content], { type: 'application/octet-stream' }));
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

action('btn-dump', async () => {
  const r = await client.call('dump', { keys: [$('key').value.trim()] });
  const format = $('dump-format').value;
  const serial = $('card-serial').textContent.replace('—', 'card');
  download(`${serial}.${format}`, dumpFile(r.document, format));
  $('dump-result').classList.remove('bad');
  $('dump-result').textContent = `${r.sectors_read}/16 ${t('sectors')}, ${r.keys_found}/32 ${t('key')}` +
    (r.unread.length ? ` — ${r.unread.join(' ')}` : '');
}, 'dump-result');

// The uploaded file's format from its extension, as orvix restore takes it.
const FORMATS = { json: 'json', mfd: 'mfd', bin: 'mfd', dump: 'mfd', eml: 'eml', mct: 'mct', txt: 'mct' };
action('btn-restore', async () => {
  const file = $('restore-file').files[0];
  if (!file) throw new Error(t('pick'));
  const format = FORMATS[file.name.split('.').pop().toLowerCase()] ?? 'json';
  const bytes = new Uint8Array(await file.arrayBuffer());
  const content = format === 'mfd' ? bytesToHex(bytes) : new TextDecoder().decode(bytes);
  const r = await client.call('restore', { document: content, format, with_trailers: $('restore-trailers').checked, keys: [$('key').value.trim()] });
  $('restore-result').classList.remove('bad');
  $('restore-result').textContent = `${r.written} ${t('blocksWritten')}`;
}, 'restore-result');

// Leaving the page ends the session at once, so its reader is free for others.
addEventListener('pagehide', () => client.close());
$('btn-clear').addEventListener('click', () => $('log').replaceChildren());
$('lang-switch').addEventListener('click', switchLanguage);

translate();
showCard(null);
client.connect().then(listReaders).catch((e) => log('error', e.message, 'bad'));
