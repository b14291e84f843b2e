// The pages' own texts in Chinese and English; the names of registers and their shown values
// come from the server as the panel shows them. The choice is kept per browser.
const texts = {
  zh: {
    title: 'ZEV720 场所', user: '用户名', password: '密码', logIn: '登录', logOut: '退出',
    venue: '场所', presets: '预设', room: '房间', otherLanguage: 'English', nav: '页面',
    wrong: '用户名或密码错误', wait: '尝试过多，请稍候再试',
    online: '在线', offline: '离线', connecting: '连接中', stopped: '已停止',
    locked: '已锁定', unlocked: '未锁定', lockUnknown: '锁定状态未知', lock: '锁定',
    lost: '与服务器的连接已断开，正在重连…',
    viewer: '查看', desk: '前台', technician: '技术员',
    filter: '按名称或状态筛选', sort: '排序', byName: '按名称', byState: '按状态（离线在前）',
    house: '对照预设', none: '（无）', shownRooms: '显示 {n} / {all} 个房间',
    lower: '{what} 降低', higher: '{what} 提高', recall: '调用', recallPreset: '调用预设',
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
  },
  en: {
    title: 'ZEV720 venue', user: 'User name', password: 'Password', logIn: 'Log in', logOut: 'Log out',
    venue: 'Venue', presets: 'Presets', room: 'Room', otherLanguage: '中文', nav: 'Pages',
    wrong: 'Wrong user name or password', wait: 'Too many tries; wait a moment',
    online: 'online', offline: 'offline', connecting: 'connecting', stopped: 'stopped',
    locked: 'locked', unlocked: 'not locked', lockUnknown: 'lock not known', lock: 'Lock',
    lost: 'Connection to the server lost; reconnecting…',
    viewer: 'viewer', desk: 'front desk', technician: 'technician',
    filter: 'Filter by name or state', sort: 'Sort', byName: 'by name', byState: 'by state (offline first)',
    house: 'Compare with preset', none: '(none)', shownRooms: 'Showing {n} of {all} rooms',
    lower: '{what} down', higher: '{what} up', recall: 'Recall', recallPreset: 'Recall preset',
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
  },
};

export function language() {
  return localStorage.getItem('zev720.language') === 'en' ? 'en' : 'zh';
}

// The text of `key`, with each {name} filled from `values`.
export function text(key, values = {}) {
  const template = texts[language()][key] ?? key;
  return template.replace(/\{(\w+)\}/g, (_, name) => String(values[name] ?? ''));
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
