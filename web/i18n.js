// The page's texts: Simplified Chinese by default, English with ?lang=en or
// the switch (remembered in the browser).

const TEXTS = {
  zh: {
    title: 'ORVIX32 读卡器', readers: '读卡器', refresh: '刷新', open: '打开', close: '关闭',
    port: '端口', verdict: '诊断', card: '卡片', type: '类型', serial: '序列号', noCard: '无卡',
    cardRemoved: '卡片已移走', cardArrived: '卡片到达', blocks: '数据块', block: '块', data: '数据',
    read: '读', write: '写', increment: '加值', decrement: '减值', keyA: '密钥A', keyB: '密钥B',
    accessBits: '控制位', sectors: '扇区', sector: '扇区', readSector: '读扇区', value: '钱包',
    topUp: '充值', charge: '扣款', amount: '金额', balance: '余额', getValue: '查余额', setValue: '初始化钱包',
    dump: '转储', dumpCard: '读取整卡并下载', restore: '恢复', restoreFile: '上传并写入卡片',
    format: '格式', withTrailers: '包括控制块', log: '日志', clear: '清空', connected: '已连接服务',
    disconnected: '与服务断开', busy: '读卡器被占用', error: '错误', notValue: '不是钱包块',
    locked: '控制位损坏（扇区锁死）', keysForever: '警告：密钥和控制位永久不可更改', held: '已打开',
    lang: 'English', written: '已写入', blocksWritten: '块已写入', pick: '选择文件', sent: '发送', got: '收到',
    event: '事件', missing: '无设备', never: '禁止', none: '—', key: '密钥', trailer: '控制块', readBlock: '读块', writeBlock: '写块',
  },
  en: {
    title: 'ORVIX32 reader', readers: 'Readers', refresh: 'Refresh', open: 'Open', close: 'Close',
    port: 'Port', verdict: 'Verdict', card: 'Card', type: 'Type', serial: 'Serial', noCard: 'no card',
    cardRemoved: 'card removed', cardArrived: 'card arrived', blocks: 'Blocks', block: 'Block', data: 'Data',
    read: 'read', write: 'write', increment: 'increment', decrement: 'decrement', keyA: 'key A', keyB: 'key B',
    accessBits: 'access bits', sectors: 'Sectors', sector: 'Sector', readSector: 'Read sector', value: 'Value',
    topUp: 'Top up', charge: 'Charge', amount: 'Amount', balance: 'Balance', getValue: 'Get value', setValue: 'Set value',
    dump: 'Dump', dumpCard: 'Read the card and download', restore: 'Restore', restoreFile: 'Upload and write to the card',
    format: 'Format', withTrailers: 'with trailers', log: 'Log', clear: 'Clear', connected: 'connected to the service',
    disconnected: 'disconnected from the service', busy: 'reader busy', error: 'error', notValue: 'not a value block',
    locked: 'access bits malformed (sector locked)', keysForever: 'warning: keys and access bits can never change again',
    held: 'open', lang: '中文', written: 'written', blocksWritten: 'blocks written', pick: 'Choose file', sent: 'sent',
    got: 'got', event: 'event', missing: 'missing', never: 'never', none: '—', key: 'Key', trailer: 'trailer', readBlock: 'Read', writeBlock: 'Write',
  },
};

const asked = new URLSearchParams(location.search).get('lang');
export const lang = TEXTS[asked] ? asked : (TEXTS[localStorage.getItem('lang')] ? localStorage.getItem('lang') : 'zh');
export const t = (key) => TEXTS[lang][key] ?? key;

// Fills every element marked data-t (text) or data-tp (placeholder).
export function translate(root = document) {
  document.documentElement.lang = lang === 'zh' ? 'zh-CN' : 'en';
  document.title = t('title');
  for (const el of root.querySelectorAll('[data-t]')) el.textContent = t(el.dataset.t);
  for (const el of root.querySelectorAll('[data-tp]')) el.placeholder = t(el.dataset.tp);
}

export function switchLanguage() {
  const next = lang === 'zh' ? 'en' : 'zh';
  localStorage.setItem('lang', next);
  const u = new URL(location.href);
  u.searchParams.set('lang', next);
  location.href = u.toString();
}
