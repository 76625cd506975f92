// The page's texts: Simplified Chinese by default, English with ?lang=en or
// the switch (remembered in the browser). Errors are put in words here too,
// from the codes the service sends, so every refusal reads in the page's
// language; the service's own text stays one click away as the detail.

const TEXTS = {
  zh: {
    title: 'ORVIX32 读卡器', readers: '读卡器', refresh: '刷新', open: '打开', close: '关闭',
    port: '端口', verdict: '诊断', card: '卡片', type: '类型', serial: '序列号', noCard: '无卡',
    noReader: '未打开读卡器', cardRemoved: '卡片已移走，卡片数据已清除', cardArrived: '卡片到达',
    blocks: '数据块', block: '块号', data: '数据', dismiss: '知道了',
    read: '读', write: '写', increment: '加值', decrement: '减值', keyA: '密钥A', keyB: '密钥B',
    accessBits: '控制位', sectors: '扇区', sector: '扇区', readSector: '读扇区', value: '钱包',
    topUp: '充值', charge: '扣款', amount: '金额', balance: '余额', getValue: '查余额', setValue: '初始化钱包',
    dump: '转储', dumpCard: '读取整卡并下载', restore: '恢复', restoreFile: '上传并写入卡片',
    format: '格式', withTrailers: '包括控制块', log: '日志', clear: '清空', connected: '已连接服务',
    disconnected: '与服务断开', reconnecting: '与服务断开，{s} 秒后重连…', reconnected: '已重新连接服务',
    direct: '连接读卡器（USB 串口）', directMode: '直连模式：读卡器经 USB 串口接在本机',
    reopened: '已重新连接服务并重新打开 {port}', notReopened: '已重新连接服务；{port} 未能重新打开',
    error: '错误', locked: '控制位损坏（扇区锁死）', keysForever: '警告：密钥和控制位永久不可更改', held: '已打开',
    lang: 'English', blocksWritten: '块已写入', missing: '无设备', never: '禁止', key: '密钥', readBlock: '读块',
    writeBlock: '写块', details: '详情', failed: '失败', desk: '工作台', deskAsk: '本工作台的名称（其他工作台占用读卡器时会看到）',
    deskChange: '修改', ok: '确定', heldBy: '被「{desk}」占用', since: '（自 {since} 起）', ownDesk: '本工作台',
    hexPlaceholder: '32 位十六进制数字', keyPlaceholder: '12 位十六进制数字', failedPlaceholder: '（读取失败）',
    confirmCharge: '扣款 {amount} 后余额将低于零。仍然扣款吗？', report: '打印卡片报告',
    reportTitle: '卡片报告', sectorsRead: '已读扇区', unreadBlocks: '未读的块', skipped: '跳过', notVerified: '已写入，但无法读回核对', valueBlocks: '钱包块', printed: '打印时间',
    address: '地址', noneFound: '无',
  },
  en: {
    title: 'ORVIX32 reader', readers: 'Readers', refresh: 'Refresh', open: 'Open', close: 'Close',
    port: 'Port', verdict: 'Verdict', card: 'Card', type: 'Type', serial: 'Serial', noCard: 'no card',
    noReader: 'no reader open', cardRemoved: 'card removed; its data was cleared', cardArrived: 'card arrived',
    blocks: 'Blocks', block: 'Block', data: 'Data', dismiss: 'Dismiss',
    read: 'read', write: 'write', increment: 'increment', decrement: 'decrement', keyA: 'key A', keyB: 'key B',
    accessBits: 'access bits', sectors: 'Sectors', sector: 'Sector', readSector: 'Read sector', value: 'Value',
    topUp: 'Top up', charge: 'Charge', amount: 'Amount', balance: 'Balance', getValue: 'Get value', setValue: 'Set value',
    dump: 'Dump', dumpCard: 'Read the card and download', restore: 'Restore', restoreFile: 'Upload and write to the card',
    format: 'Format', withTrailers: 'with trailers', log: 'Log', clear: 'Clear', connected: 'connected to the service',
    disconnected: 'disconnected from the service', reconnecting: 'disconnected from the service, reconnecting in {s} s…',
    direct: 'connect reader (USB serial)', directMode: 'direct mode: the reader on this computer\'s USB serial port',
    reconnected: 'reconnected to the service', reopened: 'reconnected to the service and reopened {port}',
    notReopened: 'reconnected to the service; {port} could not be reopened',
    error: 'error', locked: 'access bits malformed (sector locked)', keysForever: 'warning: keys and access bits can never change again',
    held: 'open', lang: '中文', blocksWritten: 'blocks written', missing: 'missing', never: 'never', key: 'Key',
    readBlock: 'Read', writeBlock: 'Write', details: 'details', failed: 'failed', desk: 'Desk',
    deskAsk: 'This desk\'s name (shown to other desks while this one holds a reader)', deskChange: 'change', ok: 'OK',
    heldBy: 'held by "{desk}"', since: ' since {since}', ownDesk: 'this desk',
    hexPlaceholder: '32 hex digits', keyPlaceholder: '12 hex digits', failedPlaceholder: '(read failed)',
    confirmCharge: 'Charging {amount} takes the balance below zero. Charge anyway?', report: 'Print card report',
    reportTitle: 'Card report', sectorsRead: 'Sectors read', unreadBlocks: 'Blocks not read', skipped: 'skipped', notVerified: 'written, not verified', valueBlocks: 'Value blocks',
    printed: 'Printed', address: 'address', noneFound: 'none',
  },
};

// Refusals by what the service sends: `family:status` for the reader's own
// statuses, the code for link, library, service and page codes, and
// `arg:reason` for a refused argument (code -3).
const ERRORS = {
  zh: {
    'reader:1': '读卡器不认识这条命令', 'reader:5': '数据长度不对', 'reader:6': '参数不对',
    'reader': '读卡器报告状态 {status}',
    'mifare:32': '读卡器前没有卡片', 'mifare:33': '卡片序列号不符', 'mifare:34': '密钥错误，扇区拒绝认证',
    'mifare:35': '该扇区尚未认证', 'mifare:36': '控制位不允许这个操作', 'mifare:37': '不是钱包块，或金额会超出范围',
    'mifare:38': '块号或扇区号不对', 'mifare:39': '扇区已锁死（控制位损坏）', 'mifare': '卡片操作失败（状态 {status}）',
    'rf5550:64': '读卡器前没有标签', 'rf5550:65': '标签块号不对', 'rf5550:66': '标签密码错误', 'rf5550:67': '标签已锁定',
    'rf5550:68': '标签块禁止读取', 'rf5550': '标签操作失败（状态 {status}）',
    'memory:48': '卡座中没有卡', 'memory:49': '卡片未上电', 'memory:50': '卡片种类不对', 'memory:51': '未知的卡片类型',
    'memory:52': '地址不对', 'memory:53': '密码错误', 'memory:54': '卡片已锁定', 'memory:55': '密码尚未校验',
    'memory:56': '只读区域', 'memory:57': '没有这个密码', 'memory:58': '卡片认证失败', 'memory': '存储卡操作失败（状态 {status}）',
    'cpu:48': '卡座中没有卡', 'cpu:49': '卡片未复位', 'cpu:50': '卡片种类不对', 'cpu': 'CPU 卡操作失败（状态 {status}）',
    'attendance:72': '考勤机时钟不对', 'attendance:73': '考勤机不接受该请求', 'attendance:74': '没有这条记录',
    'attendance': '考勤机操作失败（状态 {status}）',
    link: '与读卡器的通信中断，命令未执行', linkAfter: '读卡器的应答不完整：命令可能已执行，请重新读取核对',
    4: '参数超出范围，未发送', 65537: '操作已取消', 65539: '没有这个端口', 65540: '读卡器被占用', busyBy: '读卡器正{holder}',
    65541: '无权打开该端口', 65543: '服务内部错误',
    '-1': '服务收到的消息无法识别', '-2': '服务不支持该操作', '-3': '参数不对', '-4': '请先打开读卡器',
    '-5': '上一个操作尚未完成', '-6': '消息太大', '-7': '操作太频繁，请稍候', '-8': '卡片拒绝：密钥不对，或块中数据不适合此操作', '-8:key': '密钥不对：扇区不接受任何已知密钥',
    '-8:value': '这不是钱包块', '-8:below_zero': '余额不足：扣款后将低于零',
    '-9': '当前没有事务', '-2:direct': '直连模式下不能使用此功能', '-100': '与服务断开', '-101': '请先选择文件',
    'missing': '请填写{arg}', 'type': '{arg}格式不对', 'range': '{arg}超出范围（{min}–{max}）', 'hex': '{arg}应为 {len} 位十六进制数字',
    'rangeAny': '{arg}超出范围', 'length': '{arg}长度不对', 'choice': '{arg}不是可选的值', 'format': '{arg}格式不对',
    'choose': '请选择{arg}', 'unknown': '不支持参数{arg}', 'reason': '{arg}不对',
    other: '操作失败',
    argNames: { block: '块号', amount: '金额', key: '密钥', data: '数据', sector: '扇区', port: '读卡器端口', key_type: '密钥类型', desk: '工作台名称', file: '文件', keys: '密钥', partial: '部分转储', to: '格式', format: '格式', sectors: '扇区' },
  },
  en: {
    'reader:1': 'the reader does not know this command', 'reader:5': 'wrong data length', 'reader:6': 'bad parameter',
    'reader': 'the reader reported status {status}',
    'mifare:32': 'no card at the reader', 'mifare:33': 'wrong card serial', 'mifare:34': 'wrong key: the sector refused it',
    'mifare:35': 'the sector is not authenticated', 'mifare:36': 'the access bits forbid this',
    'mifare:37': 'not a value block, or the amount would leave its range', 'mifare:38': 'bad block or sector number',
    'mifare:39': 'sector locked (access bits malformed)', 'mifare': 'the card operation failed (status {status})',
    'rf5550:64': 'no tag at the reader', 'rf5550:65': 'bad tag block', 'rf5550:66': 'wrong tag password', 'rf5550:67': 'tag locked',
    'rf5550:68': 'tag block read-protected', 'rf5550': 'the tag operation failed (status {status})',
    'memory:48': 'no card in the slot', 'memory:49': 'card not powered', 'memory:50': 'wrong kind of card',
    'memory:51': 'unknown card type', 'memory:52': 'bad address', 'memory:53': 'wrong code', 'memory:54': 'card locked',
    'memory:55': 'code not verified', 'memory:56': 'read-only', 'memory:57': 'no such code', 'memory:58': 'card authentication failed',
    'memory': 'the memory card operation failed (status {status})',
    'cpu:48': 'no card in the slot', 'cpu:49': 'card not reset', 'cpu:50': 'wrong kind of card', 'cpu': 'the CPU card operation failed (status {status})',
    'attendance:72': 'bad terminal clock', 'attendance:73': 'the terminal refused the request', 'attendance:74': 'no such record',
    'attendance': 'the attendance terminal failed (status {status})',
    link: 'the line to the reader failed; the command was not carried out',
    linkAfter: 'the reader\'s answer was cut: the command may have been carried out, read back to check',
    4: 'argument out of range, nothing sent', 65537: 'cancelled', 65539: 'no such port', 65540: 'reader busy', busyBy: 'reader busy: {holder}',
    65541: 'no permission to open the port', 65543: 'internal error in the service',
    '-1': 'the service could not read the message', '-2': 'the service has no such operation', '-3': 'bad argument',
    '-4': 'open a reader first', '-5': 'the previous call is still running', '-6': 'message too large',
    '-7': 'too many calls, wait a moment', '-8': 'refused: a wrong key, or the block\'s data does not suit this operation',
    '-8:key': 'wrong key: the sector took none of the keys known', '-8:value': 'not a value block',
    '-8:below_zero': 'not enough on the card: the balance would go below zero', '-9': 'no transaction is open', '-2:direct': 'not available in direct mode',
    '-100': 'disconnected from the service', '-101': 'choose a file first',
    'missing': 'enter the {arg}', 'type': 'the {arg} is not a number', 'range': 'the {arg} must be {min}–{max}',
    'hex': 'the {arg} must be {len} hex digits', 'rangeAny': 'the {arg} is out of range',
    'length': 'the {arg} has the wrong length', 'choice': 'the {arg} is not one of the choices',
    'format': 'the {arg} is not laid out as asked', 'choose': 'choose a {arg}', 'unknown': 'the {arg} is not taken here',
    'reason': 'bad {arg}', other: 'failed',
    argNames: { block: 'block number', amount: 'amount', key: 'key', data: 'data', sector: 'sector', port: 'reader port', key_type: 'key type', desk: 'desk name', file: 'file', keys: 'key', partial: 'partial dump', to: 'format', format: 'format', sectors: 'sectors' },
  },
};

const asked = new URLSearchParams(location.search).get('lang');
export const lang = TEXTS[asked] ? asked : (TEXTS[localStorage.getItem('lang')] ? localStorage.getItem('lang') : 'zh');
const fill = (text, values) => text.replace(/\{(\w+)\}/g, (m, k) => values[k] ?? m);
export const locale = lang === 'zh' ? 'zh-CN' : 'en-GB';
export const t = (key, values = {}) => fill(TEXTS[lang][key] ?? key, values);

// What a refusal (-8) is about, while the service names it only in its text.
const REFUSALS = [[/no key opened sector/, 'key'], [/is not a value block/, 'value'], [/ below zero/, 'below_zero']];
export const refusalOf = (text = '') => REFUSALS.find(([re]) => re.test(text))?.[1];

// An error in the page's words. `e` carries what the service sent: code,
// and where known family, arg, reason, holder, min, max, len.
export function errorText(e) {
  const w = ERRORS[lang];
  const code = e.code;
  if (code === -3 && e.reason) {
    const arg = w.argNames[e.arg] ?? e.arg ?? '';
    const reason = e.reason === 'range' && e.min === undefined ? 'rangeAny' : e.reason;
    return fill(w[reason] ?? w.reason, { ...e, arg });
  }
  if (code === 65540 && e.holder) return fill(w.busyBy, { holder: holderText(e.holder) });
  if (code === -8 || code === -2) return w[`${code}:${e.reason ?? refusalOf(e.text)}`] ?? w[code];
  if (code >= 101 && code <= 115) return code <= 107 ? w.link : w.linkAfter;
  if (e.family) {
    const status = `0x${code.toString(16).toUpperCase().padStart(2, '0')}`;
    return fill(w[`${e.family}:${code}`] ?? w[e.family] ?? w.other, { status });
  }
  return w[code] ?? w.other;
}

// Who holds a port: a desk's name and since when (the service's time is
// UTC; shown in the page's local time, with the date when not today).
export function holderText(h) {
  if (h.own) return t('ownDesk');
  const at = new Date(h.since);
  const since = isNaN(at) ? h.since : at.toDateString() === new Date().toDateString()
    ? at.toLocaleTimeString(locale) : at.toLocaleString(locale);
  return `${t('heldBy', { desk: h.desk || h.session || '?' })}${since ? t('since', { since }) : ''}`;
}

// Fills every element marked data-t (text) or data-tp (placeholder).
export function translate(root = document) {
  document.documentElement.lang = lang === 'zh' ? 'zh-CN' : 'en';
  document.title = t('title');
  for (const el of root.querySelectorAll('[data-t]')) el.textContent = t(el.dataset.t);
  for (const el of root.querySelectorAll('[data-tp]')) el.placeholder = t(el.dataset.tp);
}

// Access rights as the service words them, in the page's language.
const RIGHTS = [['access bits', 'accessBits'], ['key A', 'keyA'], ['key B', 'keyB'], ['read', 'read'],
  ['write', 'write'], ['increment', 'increment'], ['decrement', 'decrement'], ['never', 'never']];
export const rightsText = (words) => RIGHTS.reduce((s, [en, key]) => s.replaceAll(en, t(key)), words);

export function switchLanguage() {
  const next = lang === 'zh' ? 'en' : 'zh';
  localStorage.setItem('lang', next);
  const u = new URL(location.href);
  u.searchParams.set('lang', next);
  u.searchParams.delete('token'); // the service's cookie carries it after the first page
  location.href = u.toString();
}
