// The operator's page: a session with orvix serve (kept up by itself), a
// reader chosen and held under this desk's name, and the card's blocks,
// sectors, values and dumps. What is on screen comes from the last answer or
// event: a card arriving or leaving, or the session ending, clears it.
import { Client } from './client.js';
import { Client as DirectClient, directModeAvailable } from './serial-client.js';
import { t, translate, switchLanguage, errorText, rightsText, holderText, locale, refusalOf } from './i18n.js';
import { sectorRows, cardReport } from './mifare.js';

const $ = (id) => document.getElementById(id);
const state = { port: null, want: null, card: null, leaving: false, direct: false };

function log(kind, text, cls = '') {
  const li = document.createElement('li');
  li.className = `${kind} ${cls}`;
  const time = new Date().toTimeString().slice(0, 8);
  // Long answers (sectors, dumps) shortened on screen, whole in the tooltip.
  li.textContent = `${time} ${kind === 'out' ? '→' : kind === 'in' ? '←' : '•'} ${text.length > 240 ? `${text.slice(0, 240)} …` : text}`;
  if (text.length > 240) li.title = text;
  $('log').prepend(li);
  $('log-last').textContent = li.textContent.slice(0, 120);
  while ($('log').children.length > 500) $('log').lastChild.remove();
}

const listeners = {
  onLog: log,
  onState: (up) => { if (!up) lost(); },
  onEvent: (e) => { if (e.event === 'card' && (!e.port || e.port === state.port)) cardEvent(e); },
};
let client = new Client(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}/ws`, listeners);

function status(text, ok) {
  $('status').textContent = text;
  $('status').className = `status ${ok ? 'ok' : 'bad'}`;
}

// --- The card on screen -------------------------------------------------

const ERROR_BOXES = ['card-err', 'blk-err', 'val-err', 'sec-err', 'dump-err', 'restore-err'];

// Everything read from a card: none of it may outlive the card.
function clearCardData() {
  $('blk-data').value = '';
  markFailed($('blk-data'), false);
  $('val-result').textContent = '—';
  $('val-result').classList.remove('bad');
  $('sector-table').replaceChildren();
  for (const id of ['blk-note', 'sec-note', 'dump-result', 'restore-result']) $(id).textContent = '';
  for (const id of ERROR_BOXES) $(id).replaceChildren();
  $('report').replaceChildren();
}

function showCard(card) {
  state.card = card?.serial ?? null;
  $('card-type').textContent = card?.type ?? '—';
  $('card-serial').textContent = card?.serial ?? '—';
  // "No card" only means something while a reader is open.
  const text = !state.port ? t('noReader') : card ? '' : t('noCard');
  $('card-state').textContent = text;
  $('card-state').className = `badge ${state.port ? 'bad' : 'muted'}`;
}

function banner(text, kind) {
  $('banner-text').textContent = text;
  $('banner').className = kind;
  $('banner').hidden = false;
}

// The first event after watching reports the field as it is: news only when it changed.
function cardEvent(e) {
  const serial = e.present ? e.serial : null;
  if (serial === state.card) return;
  clearCardData();
  showCard(e.present ? e : null);
  if (e.present) banner(`${t('cardArrived')}: ${e.serial}`, 'ok');
  else banner(t('cardRemoved'), 'bad');
}

// --- Refusals beside the control ------------------------------------------

// A field's value, refused here (nothing is sent) when it is empty, out of
// the field's range or not the hex it must be.
function refusal(el, reason, extra = {}) {
  return { code: -3, local: true, arg: el.dataset.arg, reason, field: el, text: `${el.dataset.arg}: ${reason}, nothing sent`, ...extra };
}
function intField(id, min = Number($(id).min), max = Number($(id).max)) {
  const el = $(id);
  const raw = el.value.trim();
  if (el.validity.badInput) throw refusal(el, 'type');
  if (raw === '') throw refusal(el, 'missing');
  const n = Number(raw);
  if (!Number.isInteger(n)) throw refusal(el, 'type');
  if (n < min || n > max) throw refusal(el, 'range', { min, max });
  return n;
}
function hexField(id) {
  const el = $(id);
  const raw = el.value.replace(/\s+/g, '');
  const len = Number(el.dataset.hex);
  if (raw === '') throw refusal(el, 'missing', { len });
  if (raw.length !== len || !/^[0-9A-Fa-f]+$/.test(raw)) throw refusal(el, 'hex', { len });
  return raw.toUpperCase();
}

function markInvalid(el, on) {
  el.classList.toggle('invalid', on);
  if (on) el.setAttribute('aria-invalid', 'true'); else el.removeAttribute('aria-invalid');
}
function markFailed(el, on) {
  el.classList.toggle('failed', on);
  el.placeholder = t(on ? 'failedPlaceholder' : el.dataset.tp);
}

// Shows a refusal in the page's words in `box`; the raw answer one click away.
function showError(box, e) {
  const raw = `${t('error')} ${e.code ?? ''}: ${e.text ?? e.message ?? ''}${e.detail ? ` (${e.detail})` : ''}`;
  const details = document.createElement('details');
  details.append(Object.assign(document.createElement('summary'), { textContent: t('details') }),
    Object.assign(document.createElement('code'), { textContent: raw }));
  box.replaceChildren(Object.assign(document.createElement('span'), { className: 'msg', textContent: errorText(e) }), details);
  log('error', raw, 'bad');
  // The field the refusal names: the one checked here, or the service's argument in the same panel.
  const keyAtFault = e.arg === 'key' || e.arg === 'keys' || refusalOf(e.text) === 'key';
  const field = e.field ?? (e.arg && box.closest('section')?.querySelector(`[data-arg="${e.arg}"]`)) ??
    (keyAtFault ? $('key') : null);
  if (field) { markInvalid(field, true); field.focus(); }
}

// Runs a button's work; a refusal is shown in the panel's error box.
function action(button, box, work, failed = () => {}) {
  $(button).addEventListener('click', async () => {
    $(button).disabled = true;
    // This panel's last refusal, and a key refused before, are news no more.
    for (const id of [box, 'card-err']) {
      $(id).replaceChildren();
      for (const el of $(id).closest('section').querySelectorAll('.invalid')) markInvalid(el, false);
    }
    try {
      await work();
    } catch (e) {
      if (!e.local) failed(e);
      // A bad key is shown at the key field, whichever panel asked.
      showError(e.field && e.field.closest('section') !== $(box).closest('section') ? $('card-err') : $(box), e);
    } finally {
      $(button).disabled = false;
    }
  });
}
for (const el of document.querySelectorAll('[data-arg]')) el.addEventListener('input', () => markInvalid(el, false));

// --- Readers and desks ----------------------------------------------------

const desk = () => localStorage.getItem('desk') || '';
function askDesk() {
  $('desk-input').value = desk();
  $('desk-dialog').showModal();
}
$('desk-dialog').addEventListener('close', () => {
  const name = $('desk-input').value.trim();
  if (name) localStorage.setItem('desk', name);
  $('desk-name').textContent = desk() || '—';
});

const portText = (p) => (p.holder ? holderText(p.holder) : p.held ? `${p.verdict}: ${p.held}` : `${p.verdict} ${p.detail || ''}`);

async function listReaders() {
  const { ports } = await client.call('readers');
  const body = $('reader-list');
  const chosen = document.querySelector('input[name=port]:checked')?.value;
  body.replaceChildren();
  // Ports with no device behind them are one line, not ten; held and busy ones stay choosable.
  const missing = ports.filter((p) => p.verdict === 'missing').map((p) => p.name);
  const shown = ports.filter((p) => p.verdict !== 'missing');
  const names = shown.map((p) => p.name);
  const pick = [state.port, chosen, state.want, localStorage.getItem('port'),
    shown.find((p) => p.verdict === 'ok')?.name, names[0]].find((n) => n && names.includes(n));
  for (const p of shown) {
    const tr = body.insertRow();
    tr.className = p.verdict === 'ok' ? 'ok' : '';
    const radio = Object.assign(document.createElement('input'), { type: 'radio', name: 'port', value: p.name });
    radio.checked = p.name === pick;
    tr.insertCell().append(radio);
    tr.insertCell().textContent = p.name;
    tr.insertCell().textContent = portText(p);
    tr.title = p.path;
  }
  if (missing.length) {
    const tr = body.insertRow();
    tr.className = 'missing';
    tr.insertCell();
    Object.assign(tr.insertCell(), { colSpan: 2, textContent: `${t('missing')}: ${missing.join(' ')}` });
  }
}

async function openPort(port) {
  const r = await client.call('open', { port, desk: desk() });
  state.port = r.port;
  state.want = r.port;
  localStorage.setItem('port', r.port);
  $('held').textContent = `${t('held')}: ${r.port} (${r.baud} bit/s)`;
  // The card first, then the watch: its first event finds the same card and is no news.
  let card = null;
  try { card = await client.call('card'); } catch { /* an empty field: the watch says when a card comes */ }
  clearCardData();
  showCard(card);
  await client.call('watch', { on: true });
  await listReaders().catch(() => {}); // the list names this desk as the holder now
}

action('btn-refresh', 'readers-err', listReaders);
action('btn-open', 'readers-err', async () => {
  const radio = document.querySelector('input[name=port]:checked');
  if (!radio) throw { code: -3, local: true, arg: 'port', reason: 'choose', text: 'port: none chosen, nothing sent' };
  try {
    await openPort(radio.value);
  } catch (e) {
    // A busy port's holder may have changed since the list was made.
    if (e.code === 65540) listReaders().catch(() => {});
    throw e;
  }
});
action('btn-close', 'readers-err', async () => {
  state.want = null;
  if (state.port) await client.call('close', { port: state.port });
  state.port = null;
  $('held').textContent = '';
  $('banner').hidden = true;
  clearCardData();
  showCard(null);
  await listReaders();
});

// --- Blocks, values, sectors ----------------------------------------------

// The card operations try the key given first, then the well-known keys, as key A and as key B.
const keys = () => ({ keys: [hexField('key')] });
const blockFailed = () => { $('blk-data').value = ''; markFailed($('blk-data'), true); };
action('btn-read', 'blk-err', async () => {
  const args = { block: intField('blk-no'), ...keys() };
  const r = await client.call('mifare.read', args).catch((e) => { blockFailed(); throw e; });
  $('blk-data').value = r.data;
  markFailed($('blk-data'), false);
});
action('btn-write', 'blk-err', async () => {
  const args = { block: intField('blk-no'), data: hexField('blk-data'), ...keys() };
  // A refused write keeps what the operator typed; so does one no key may read back.
  const r = await client.call('mifare.write', args);
  if (r.verified === false) { $('blk-note').textContent = `${t('notVerified')} (${r.note})`; return; }
  $('blk-data').value = r.data;
  markFailed($('blk-data'), false);
});

// A charge the service refuses because it would take the balance below
// zero is asked about; the operator's yes sends it again, allowed.
const belowZero = (e) => e.code === -8 && (e.reason ?? refusalOf(e.text)) === 'below_zero';
async function value(step) {
  const args = { block: intField('val-block'), ...keys() };
  const amount = $('val-amount');
  if (step !== 'get') args.amount = intField('val-amount', Number(step === 'set' ? amount.dataset.setMin : amount.min));
  let r;
  try {
    r = await client.call(`mifare.value.${step}`, args);
  } catch (e) {
    if (!(step === 'sub' && belowZero(e))) throw e;
    // Declined, the card is as it was: the balance shown still holds.
    if (!confirm(t('confirmCharge', { amount: args.amount }))) throw Object.assign(e, { local: true });
    r = await client.call('mifare.value.sub', { ...args, allow_negative: true });
  }
  $('val-result').textContent = String(r.value);
  $('val-result').classList.remove('bad');
}
const valueFailed = () => { $('val-result').textContent = t('failed'); $('val-result').classList.add('bad'); };
action('btn-value-read', 'val-err', () => value('get'), valueFailed);
action('btn-topup', 'val-err', () => value('add'), valueFailed);
action('btn-charge', 'val-err', () => value('sub'), valueFailed);
action('btn-value-set', 'val-err', () => value('set'), valueFailed);

action('btn-sector', 'sec-err', async () => {
  $('sec-note').textContent = '';
  $('sector-table').replaceChildren();
  const r = await client.call('sector', { sector: intField('sec-no'), key_type: $('key-type').value, key: hexField('key') });
  sectorRows($('sector-table'), r, t, rightsText);
  $('sec-note').textContent = `${t('accessBits')} ${r.access_bytes}` +
    (r.access_valid ? '' : ` — ${t('locked')}`) + (r.locks_keys_forever ? ` — ${t('keysForever')}` : '');
});

// --- Dumps and the report -------------------------------------------------

// Dump files travel as base64 of their bytes; the service makes and reads every format.
const fromBase64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
const toBase64 = (bytes) => btoa(Array.from(bytes, (b) => String.fromCharCode(b)).join(''));

function download(name, bytes) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

const dumpReport = (r) => `${r.sectorsRead}/16 ${t('sectors')}, ${r.keysFound}/32 ${t('key')}` +
  (r.unreadBlocks?.length ? ` — ${t('unreadBlocks')}: ${r.unreadBlocks.join(' ')}` : '');
action('btn-dump', 'dump-err', async () => {
  $('dump-result').textContent = '';
  const format = $('dump-format').value;
  const r = await client.call('mifare.dump', { format, ...keys() });
  download(`${r.serial}.${format}`, fromBase64(r.file));
  $('dump-result').textContent = dumpReport(r);
});

// The uploaded file's format is its extension when that names one, else the one chosen.
action('btn-restore', 'restore-err', async () => {
  $('restore-result').textContent = '';
  const file = $('restore-file').files[0];
  if (!file) throw { code: -101, local: true, arg: 'file', field: $('restore-file'), text: 'no file chosen, nothing sent' };
  // Dump files are a few kilobytes; a larger file is not read into the page at all.
  if (file.size > 256 * 1024) throw { code: -3, local: true, arg: 'file', reason: 'length', field: $('restore-file'), text: `${file.size} bytes, nothing sent` };
  const args = { with_trailers: $('restore-trailers').checked, ...keys() };
  const ext = file.name.split('.').pop().toLowerCase();
  const format = [...$('dump-format').options].some((o) => o.value === ext) ? ext : $('dump-format').value;
  const r = await client.call('mifare.restore', { file: toBase64(new Uint8Array(await file.arrayBuffer())), format, ...args });
  $('restore-result').textContent = `${r.written} ${t('blocksWritten')}` +
    (r.skipped?.length ? ` — ${t('skipped')}: ${r.skipped.join(' ')}` : '');
});

// The report reads the whole card, then each sector it could open for its value blocks.
action('btn-report', 'card-err', async () => {
  const dump = await client.call('mifare.dump', { format: 'json', partial: true, ...keys() });
  const { key_a: keyA, key_b: keyB } = await client.call('mifare.parse', { file: dump.file, format: 'json' });
  const values = [];
  for (let s = 0; s < keyA.length; ++s) {
    if (!keyA[s] && !keyB[s]) continue;
    const r = await client.call('sector', { sector: s, key_type: keyA[s] ? 'A' : 'B', key: keyA[s] ?? keyB[s] });
    for (const b of r.blocks) if (b.value) values.push({ block: b.block, ...b.value });
  }
  cardReport($('report'), { serial: dump.serial, type: $('card-type').textContent, desk: desk(), dump, values }, t, locale);
  print();
});

// --- The session ----------------------------------------------------------

// The session is gone: nothing read through it stays, and it is sought again
// at growing intervals; the reader held is opened again when it can be.
let retries = 0;
function lost() {
  state.port = null;
  $('banner').hidden = true;
  $('held').textContent = '';
  clearCardData();
  showCard(null);
  if (state.leaving || state.direct) return;
  const wait = Math.min(10, 0.5 * 2 ** retries++);
  status(t('reconnecting', { s: wait }), false);
  setTimeout(connect, wait * 1000);
}

async function connect() {
  if (state.direct) return;
  const tried = client;
  try {
    await tried.connect();
  } catch {
    if (tried === client) lost();
    return;
  }
  if (tried !== client) { tried.close(); return; } // direct mode was chosen meanwhile
  const again = retries > 0;
  retries = 0;
  status(t(again ? 'reconnected' : 'connected'), true);
  try { await listReaders(); } catch (e) { showError($('readers-err'), e); }
  if (!state.want) return;
  try {
    await openPort(state.want);
    status(t('reopened', { port: state.want }), true);
  } catch (e) {
    status(t('notReopened', { port: state.want }), false);
    showError($('readers-err'), e);
  }
}

// Direct mode: the driver in WebAssembly on a USB serial port the browser
// grants, in place of the service. The service's session ends for good (no
// reconnecting); the port is asked for by 'open', in this click.
action('btn-direct', 'readers-err', async () => {
  if (!state.direct) {
    state.direct = true;
    // The service's session ends without news: its end is no loss to mend.
    Object.assign(client, { onState() {}, onEvent() {} }).close();
    client = new DirectClient(new URL('wasm/orvix.mjs', location.href), listeners);
    await client.connect();
    status(t('directMode'), true);
  }
  await listReaders();
  await openPort('USB serial');
});

// Leaving the page ends the session at once, so its reader is free for others.
addEventListener('pagehide', () => { state.leaving = true; client.close(); });
$('btn-clear').addEventListener('click', () => { $('log').replaceChildren(); $('log-last').textContent = ''; });
$('lang-switch').addEventListener('click', switchLanguage);
$('btn-desk').addEventListener('click', askDesk);
$('btn-banner').addEventListener('click', () => { $('banner').hidden = true; });
$('log-panel').open = localStorage.getItem('log-open') === '1';
$('log-panel').addEventListener('toggle', () => localStorage.setItem('log-open', $('log-panel').open ? '1' : '0'));

translate();
$('btn-direct').hidden = !directModeAvailable();
$('desk-name').textContent = desk() || '—';
showCard(null);
if (!desk()) askDesk();
connect();
