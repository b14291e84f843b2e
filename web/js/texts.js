// The pages' own texts in Chinese and English; the names of registers and their shown values
// come from the server as the panel shows them. The choice is kept per browser.
const texts = {
  zh: {
    title: 'ZEV720 场所', user: '用户名', password: '密码', logIn: '登录', logOut: '退出',
    venue: '场所', presets: '预设', room: '房间', otherLanguage: 'English', nav: '页面',
    wrong: '用户名或密码错误', wait: '尝试过多，请稍候再试',
    online: '在线', offline: '离线', connecting: '连接中', stopped: '已停止', unknown: '未知',
    locked: '已锁定', unlocked: '未锁定', lockUnknown: '锁定状态未知', lock: '锁定',
    lockAsk: '对 {room} 执行“锁定机器内数据”？处理器将锁定其中的数据，直到下一次更改。',
    lockYes: '确定锁定', cancel: '取消',
    lost: '与服务器的连接已断开，正在重连…',
    stale: '与服务器失去联系：显示的值可能已过时，控制已停用。正在重连…',
    viewer: '查看', desk: '前台', technician: '技术员', guest: '房间平板',
    filter: '按名称或状态筛选', sort: '排序', byName: '按名称', byState: '按状态（离线在前）',
    house: '对照预设', none: '（无）', shownRooms: '显示 {n} / {all} 个房间',
    lower: '{room} {what} 降低', higher: '{room} {what} 提高', recall: '调用', recallPreset: '调用预设',
    atTop: '已到上限', atBottom: '已到下限',
    view: '显示方式', viewTiles: '卡片', viewRows: '紧凑列表',
    offlineCount: '{n} 间离线', allOnline: '全部在线', firstOffline: '跳到第一个离线房间',
    differs: '与“{preset}”不同：{n} 项', same: '与“{preset}”相同', notRead: '尚未读取',
    inPreset: '预设：{value}', done: '完成', failed: '失败', sending: '发送中…',
    openRoom: '打开房间 {room}',
    keepA: '存为 A', keepB: '存为 B', switchAB: '切换 A/B', copyAB: 'A 复制到 B', abNone: 'A、B 均未保存',
    abActive: '当前：{side}', abMissing: '{side} 尚未保存', abSent: '已切换到 {side}：发送 {n} 项',
    undo: '撤销', redo: '重做', nothingUndo: '没有可撤销的操作', nothingRedo: '没有可重做的操作',
    history: '历史', historyEmpty: '尚无更改', undone: '已撤销', pages: '调整页面',
    fixedNumber: '固定模式编号 P', noRoom: '没有这个房间', onlyTechnician: '此页面仅供技术员使用',
    presetList: '预设列表', name: '名称', modified: '修改时间', download: '下载', remove: '删除',
    removeAsk: '删除预设“{name}”？', storeRoom: '保存房间状态为预设', fromRoom: '房间', store: '保存',
    upload: '上传预设文件（.dat 或 show --json 的 JSON）', file: '文件', send: '上传',
    recallInto: '调用到房间', allRooms: '所有房间', results: '结果', result: '结果', detail: '详情',
    ok: '一致', differsResult: '有差异', failedResult: '失败', waiting: '等待中', stored: '已保存“{name}”',
    removed: '已删除“{name}”', chooseRooms: '请选择房间', noPresets: '尚无预设',
    'timed-out': '5 秒内没有回应：更改可能未执行，也不会再自动发送', unreachable: '无法连接服务器',
    'reason-restarted': '服务器已重新启动，请重新登录', 'reason-session-ended': '登录已失效，请重新登录',
    'reason-no-login': '',
    // What the server's answers mean (zev720d --codes).
    'problem.bad-request': '请求有误', 'problem.no-login': '请先登录',
    'problem.restarted': '服务器已重新启动，请重新登录', 'problem.session-ended': '登录已失效，请重新登录',
    'problem.wrong-password': '用户名或密码错误', 'problem.forbidden': '当前角色无权执行此操作',
    'problem.foreign-origin': '请求来自其他网站的页面，已拒绝', 'problem.not-desk-register': '前台只能调整前台控件',
    'problem.not-found': '找不到', 'problem.no-such-room': '没有这个房间', 'problem.no-such-preset': '没有这个预设',
    'problem.method': '不支持此操作', 'problem.conflict': '当前状态下无法执行',
    'problem.too-late': '更改送达太晚（超过 5 秒），未执行', 'problem.nothing-to-undo': '没有可撤销的更改',
    'problem.preset-name-taken': '已有一个看起来同名的预设', 'problem.too-large': '内容过大',
    'problem.content-type': '内容类型不对', 'problem.wrong-host': '服务器不以此名称访问',
    'problem.invalid': '数值无效', 'problem.slow-down': '更改太频繁，请稍慢一些',
    'problem.login-slowed': '此处登录失败次数过多，请稍候再试', 'problem.login-slowed-user': '此用户登录失败次数过多，请稍候再试',
    'problem.login-busy': '登录正在进行，请稍候再试', 'problem.server-error': '服务器无法完成',
    'problem.not-implemented': '服务器不支持此操作', 'problem.unavailable': '服务器暂时无法执行',
    'problem.room-offline': '房间不在线，未做任何更改', 'problem.room-not-read': '房间尚未读取',
    'problem.logins-full': '服务器正忙于其他登录，请稍候再试', 'problem.events-full': '实时连接已满',
    'problem.queue-full': '等待中的更改过多，未执行', 'problem.not-confirmed': '处理器 10 秒内未确认，更改仍在排队',
    'problem.http-version': 'HTTP 版本不对',
    'reason.ok': '正常', 'reason.differs': '有差异', 'reason.not-started': '未开始', 'reason.interrupted': '已中断',
    'reason.bad-line': '线路设置有误', 'reason.no-such-device': '没有此设备', 'reason.permission-denied': '无权访问设备',
    'reason.held-elsewhere': '设备被其他程序占用', 'reason.held-here': '设备已在本程序中打开',
    'reason.unknown-host': '找不到主机', 'reason.refused': '连接被拒绝', 'reason.no-answer': '无响应',
    'reason.processor-silent': '处理器无响应', 'reason.device-gone': '设备已断开',
    'reason.stopped-answering': '处理器停止响应', 'reason.answers-wrongly': '处理器的回答有误',
    'reason.unanswered': '未确认', 'reason.failed': '失败',
    'problem.no-such-snapshot': '那天没有这个房间的快照', snapshots: '每日快照', compareSnapshot: '与现在比较',
    snapshotSame: '与现在相同', snapshotNone: '尚无快照', takeSnapshot: '立即保存快照',
    'problem.settings-not-lost': '此房间的设置并未丢失', settingsLost: '设置已丢失（处理器恢复为出厂设置）',
    restoreLost: '恢复到断电前的设置', acceptFactory: '保留出厂设置', restored: '已恢复',
    'problem.pairing-code-not-good': '配对码无效（已用过、超过 10 分钟或已结束）：请向服务台索取新的',
    'problem.not-your-room': '这不是您负责的房间', 'problem.not-guest-register': '本房平板不能调整这一项',
    'problem.not-own-change': '前台只能撤销自己的更改', 'problem.too-late-to-undo': '已超过 60 秒或已被再次更改：请技术员撤销',
    guestTitle: '房间控制', guestPair: '请向服务台索取本房的配对码（二维码），用本设备扫描打开。',
    guestRestarted: '服务器已重新启动：请向服务台索取新的配对码。', guestEnded: '本房的控制已结束：如需继续，请向服务台索取新的配对码。',
    guestUntil: '可控制到 {time}', music: '音乐', mic: '话筒',
    limitNote: '{when}{what}上限 {max}', limitAfter: '{time} 后', limitHours: '{from}–{to} ',
    undoMine: '撤销我的更改', undoneMine: '已撤销', tabletLive: '本房平板控制中', endTablet: '结束本房控制',
    endTabletAsk: '结束 {room} 的平板控制？平板将需要新的配对码。', ended: '已结束',
    tablet: '房间平板', makeLink: '生成配对码', linkUntil: '控制到', allowEcho: '允许调整回声', allowKey: '允许变调',
    linkMade: '配对码 10 分钟内有效，只能使用一次。', linkAddress: '地址', printLink: '打印',
    limits: '限制', limitsHelp: '前台和平板的上限（JSON）', saveLimits: '保存限制', limitsSaved: '限制已保存',
    schedule: '时间表', scheduleHelp: '定时调用预设、锁定、开关限制（JSON）', saveSchedule: '保存时间表',
    backup: '备份', backupDownload: '下载备份', backupMaking: '正在打包备份…', backupDone: '备份已下载。',
    backupHelp: '预设、各房间的模式记忆、限制、时间表、快照和配置，打包为一个文件（不含用户和密码）。在新电脑上用 zev720d restore 恢复。',
    scheduleSaved: '时间表已保存', tonight: '未来 24 小时', inForce: '生效中', notInForce: '未生效',
    everyRoom: '所有房间', noEntries: '没有安排',
    'through.api': '接口', 'through.web': '网页', 'through.frame port': '帧端口',
    'through.guest': '房间平板', 'through.schedule': '时间表', 'through.catch-up': '时间表（补做）', 'through.limit': '限制',
  },
  en: {
    'problem.no-such-snapshot': 'No snapshot of this room on that day', snapshots: 'Nightly snapshots', compareSnapshot: 'Compare with now',
    snapshotSame: 'the same as now', snapshotNone: 'No snapshots yet', takeSnapshot: 'Take a snapshot now',
    'problem.settings-not-lost': 'This room has not lost its settings', settingsLost: 'Settings lost (the processor holds the factory\'s)',
    restoreLost: 'Restore the settings before the power cut', acceptFactory: 'Keep the factory settings', restored: 'restored',
    'problem.pairing-code-not-good': 'This pairing code is not good (used, older than 10 minutes, or ended): ask the front desk for a new one',
    'problem.not-your-room': 'This room is not one of yours', 'problem.not-guest-register': 'This room\'s tablet cannot change that',
    'problem.not-own-change': 'The front desk undoes only its own changes', 'problem.too-late-to-undo': 'Older than 60 s or changed since: a technician can undo it',
    guestTitle: 'Room control', guestPair: 'Ask the front desk for this room\'s pairing code (a QR code) and open it on this device.',
    guestRestarted: 'The server has restarted: ask the front desk for a new pairing code.', guestEnded: 'Control of this room has ended: ask the front desk for a new pairing code to go on.',
    guestUntil: 'Control until {time}', music: 'Music', mic: 'Microphones',
    limitNote: '{when}{what} at most {max}', limitAfter: 'after {time}, ', limitHours: '{from}–{to}: ',
    undoMine: 'Undo my change', undoneMine: 'Undone', tabletLive: 'Room tablet in control', endTablet: 'End room control',
    endTabletAsk: 'End the tablet control of {room}? The tablet will need a new pairing code.', ended: 'ended',
    tablet: 'Room tablet', makeLink: 'Make a pairing code', linkUntil: 'Control until', allowEcho: 'Allow the echo', allowKey: 'Allow the key',
    linkMade: 'The pairing code works once, within 10 minutes.', linkAddress: 'Address', printLink: 'Print',
    limits: 'Limits', limitsHelp: 'Limits of the front desk and the tablets (JSON)', saveLimits: 'Save the limits', limitsSaved: 'Limits saved',
    schedule: 'Schedule', scheduleHelp: 'Recalls, locks and limits at set times (JSON)', saveSchedule: 'Save the schedule',
    backup: 'Backup', backupDownload: 'Download a backup', backupMaking: 'Packing the backup…', backupDone: 'The backup was downloaded.',
    backupHelp: 'Presets, each room\'s mode memories, limits, the schedule, snapshots and the config in one file (no users or passwords). zev720d restore puts it back on a new PC.',
    scheduleSaved: 'Schedule saved', tonight: 'Next 24 hours', inForce: 'in force', notInForce: 'not in force',
    everyRoom: 'every room', noEntries: 'Nothing scheduled',
    title: 'ZEV720 venue', user: 'User name', password: 'Password', logIn: 'Log in', logOut: 'Log out',
    venue: 'Venue', presets: 'Presets', room: 'Room', otherLanguage: '中文', nav: 'Pages',
    wrong: 'Wrong user name or password', wait: 'Too many tries; wait a moment',
    online: 'online', offline: 'offline', connecting: 'connecting', stopped: 'stopped', unknown: 'unknown',
    locked: 'locked', unlocked: 'not locked', lockUnknown: 'lock not known', lock: 'Lock',
    lockAsk: 'Lock the data in the processor of {room} (the panel\'s 锁定机器内数据)? It stays locked until the next change.',
    lockYes: 'Lock', cancel: 'Cancel',
    lost: 'Connection to the server lost; reconnecting…',
    stale: 'Out of touch with the server: the values shown may be out of date, and the controls are off. Reconnecting…',
    viewer: 'viewer', desk: 'front desk', technician: 'technician', guest: 'room tablet',
    filter: 'Filter by name or state', sort: 'Sort', byName: 'by name', byState: 'by state (offline first)',
    house: 'Compare with preset', none: '(none)', shownRooms: 'Showing {n} of {all} rooms',
    lower: '{room} {what} down', higher: '{room} {what} up', recall: 'Recall', recallPreset: 'Recall preset',
    atTop: 'at its top', atBottom: 'at its bottom',
    view: 'View', viewTiles: 'tiles', viewRows: 'compact list',
    offlineCount: '{n} offline', allOnline: 'all online', firstOffline: 'Go to the first offline room',
    differs: 'Differs from “{preset}”: {n}', same: 'Same as “{preset}”', notRead: 'not read yet',
    inPreset: 'preset: {value}', done: 'done', failed: 'failed', sending: 'sending…',
    openRoom: 'Open room {room}',
    keepA: 'Keep as A', keepB: 'Keep as B', switchAB: 'Switch A/B', copyAB: 'Copy A to B', abNone: 'Neither A nor B kept',
    abActive: 'Now: {side}', abMissing: '{side} not kept yet', abSent: 'Switched to {side}: {n} sent',
    undo: 'Undo', redo: 'Redo', nothingUndo: 'Nothing to undo', nothingRedo: 'Nothing to redo',
    history: 'History', historyEmpty: 'No changes yet', undone: 'undone', pages: 'Pages of controls',
    fixedNumber: 'Fixed mode number P', noRoom: 'No such room', onlyTechnician: 'This page is for technicians',
    presetList: 'Presets', name: 'Name', modified: 'Modified', download: 'Download', remove: 'Delete',
    removeAsk: 'Delete preset “{name}”?', storeRoom: 'Store a room as a preset', fromRoom: 'Room', store: 'Store',
    upload: 'Upload a preset file (.dat, or the JSON of show --json)', file: 'File', send: 'Upload',
    recallInto: 'Recall into rooms', allRooms: 'All rooms', results: 'Results', result: 'Result', detail: 'Detail',
    ok: 'ok', differsResult: 'differs', failedResult: 'failed', waiting: 'waiting', stored: 'Stored “{name}”',
    removed: 'Deleted “{name}”', chooseRooms: 'Choose rooms', noPresets: 'No presets yet',
    'timed-out': 'No answer within 5 s: the change may not have been made, and will not be sent again by itself',
    unreachable: 'The server cannot be reached',
    'reason-restarted': 'The server has restarted; log in again', 'reason-session-ended': 'Your login has ended; log in again',
    'reason-no-login': '',
    'problem.bad-request': 'The request is not right', 'problem.no-login': 'Log in first',
    'problem.restarted': 'The server has restarted; log in again', 'problem.session-ended': 'Your login has ended; log in again',
    'problem.wrong-password': 'Wrong user name or password', 'problem.forbidden': 'Your role does not allow it',
    'problem.foreign-origin': 'Refused: the request came from a page of another site', 'problem.not-desk-register': 'The front desk changes only its own controls',
    'problem.not-found': 'Not found', 'problem.no-such-room': 'No such room', 'problem.no-such-preset': 'No such preset',
    'problem.method': 'Not possible here', 'problem.conflict': 'Not possible as things are',
    'problem.too-late': 'The change arrived too late (over 5 s): nothing was changed', 'problem.nothing-to-undo': 'Nothing to undo',
    'problem.preset-name-taken': 'A preset with a name that looks the same exists', 'problem.too-large': 'Too large',
    'problem.content-type': 'The wrong kind of content', 'problem.wrong-host': 'The server is not reached by that name',
    'problem.invalid': 'A value is not valid', 'problem.slow-down': 'Too many changes; slow down',
    'problem.login-slowed': 'Too many failed logins from here; wait', 'problem.login-slowed-user': 'Too many failed logins for this user; wait',
    'problem.login-busy': 'A login is under way; wait a moment', 'problem.server-error': 'The server could not do it',
    'problem.not-implemented': 'The server does not do this', 'problem.unavailable': 'The server cannot do it now',
    'problem.room-offline': 'The room is not online: nothing was changed', 'problem.room-not-read': 'The room has not been read yet',
    'problem.logins-full': 'The server is busy with other logins; wait', 'problem.events-full': 'No more live connections',
    'problem.queue-full': 'Too many changes waiting: nothing was changed', 'problem.not-confirmed': 'Not confirmed by the processor in 10 s; still queued',
    'problem.http-version': 'The wrong HTTP version',
    'reason.ok': 'ok', 'reason.differs': 'differs', 'reason.not-started': 'not started', 'reason.interrupted': 'interrupted',
    'reason.bad-line': 'not a line', 'reason.no-such-device': 'no such device', 'reason.permission-denied': 'permission denied',
    'reason.held-elsewhere': 'held by another program', 'reason.held-here': 'already open in this program',
    'reason.unknown-host': 'unknown host', 'reason.refused': 'refused', 'reason.no-answer': 'no answer',
    'reason.processor-silent': 'no answer from the processor', 'reason.device-gone': 'the device went away',
    'reason.stopped-answering': 'the processor stopped answering', 'reason.answers-wrongly': 'the processor answers wrongly',
    'reason.unanswered': 'not confirmed', 'reason.failed': 'failed',
    'through.api': 'API', 'through.web': 'web page', 'through.frame port': 'frame port',
    'through.guest': 'room tablet', 'through.schedule': 'schedule', 'through.catch-up': 'schedule (caught up)', 'through.limit': 'limit',
  },
};

export function language() {
  return localStorage.getItem('zev720.language') === 'en' ? 'en' : 'zh';
}

// The English of the processor's names and values (the server's one table: GET layout gives
// it as "english"): a register's name, a caption, a choice, a shown value.
let glossary = {};
export function useGlossary(english) {
  glossary = english || {};
}

// A name or value of the processor in the page's language.
export function said(chinese) {
  return language() === 'en' ? glossary[chinese] ?? chinese : chinese;
}

// The text of `key`, with each {name} filled from `values`.
export function text(key, values = {}) {
  const template = texts[language()][key] ?? key;
  return template.replace(/\{(\w+)\}/g, (_, name) => String(values[name] ?? ''));
}

// Whether a key has a text in both languages (the page tests ask it of every code).
export function translated(key) {
  return key in texts.zh && key in texts.en;
}

// A problem of the API in the page's language: its code's text, or the server's English detail
// for a code the pages do not know.
export function describe(problem, fallback = '') {
  const key = `problem.${problem && problem.code}`;
  if (problem && problem.code && key in texts[language()]) return texts[language()][key];
  return (problem && problem.detail) || fallback;
}

// Why a room is offline, in the page's language (its reason's code), else the server's words.
export function reasonText(room) {
  const key = `reason.${room.reasonCode}`;
  return room.reasonCode && key in texts[language()] ? texts[language()][key] : room.reason || '';
}

// A time of the server (ISO 8601) as the page's language writes one: 24-hour in Chinese.
export function timeText(iso) {
  const date = new Date(iso);
  return Number.isNaN(date.getTime()) ? iso
    : date.toLocaleTimeString(language() === 'en' ? 'en-GB' : 'zh-CN', { hour12: false });
}

// Fills every element with data-text, and makes the language button switch and remember.
export function applyTexts(onChange) {
  document.documentElement.lang = language() === 'en' ? 'en' : 'zh-CN';
  for (const element of document.querySelectorAll('[data-text]')) element.textContent = text(element.dataset.text);
  for (const element of document.querySelectorAll('[data-label]')) element.setAttribute('aria-label', text(element.dataset.label));
  const title = document.querySelector('meta[name="page-title"]');
  if (title) document.title = `${text(title.content)} — ZEV720`;
  const button = document.getElementById('language');
  if (button && !button.dataset.bound) {
    button.dataset.bound = 'yes';
    button.addEventListener('click', () => {
      localStorage.setItem('zev720.language', language() === 'en' ? 'zh' : 'en');
      applyTexts(onChange);
      if (onChange) onChange();
    });
  }
}
