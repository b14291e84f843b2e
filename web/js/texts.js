// The pages' own texts in Chinese and English; the names of registers and their shown values
// come from the server as the panel shows them. The choice is kept per browser.
const texts = {
  zh: { title: 'ZEV720 场所', user: '用户名', password: '密码', logIn: '登录', logOut: '退出',
        venue: '场所', otherLanguage: 'English', wrong: '用户名或密码错误', wait: '尝试过多，请稍候再试',
        online: '在线', offline: '离线', connecting: '连接中', stopped: '已停止',
        locked: '已锁定', unlocked: '未锁定', lockUnknown: '锁定状态未知', lost: '与服务器的连接已断开，正在重连…' },
  en: { title: 'ZEV720 venue', user: 'User name', password: 'Password', logIn: 'Log in', logOut: 'Log out',
        venue: 'Venue', otherLanguage: '中文', wrong: 'Wrong user name or password', wait: 'Too many tries; wait a moment',
        online: 'online', offline: 'offline', connecting: 'connecting', stopped: 'stopped',
        locked: 'locked', unlocked: 'not locked', lockUnknown: 'lock not known', lost: 'Connection to the server lost; reconnecting…' },
};

export function language() {
  return localStorage.getItem('zev720.language') === 'en' ? 'en' : 'zh';
}

export function text(key) {
  return texts[language()][key] ?? key;
}

// Fills every element with data-text, and makes the language button switch and remember.
export function applyTexts(onChange) {
  document.documentElement.lang = language() === 'en' ? 'en' : 'zh-CN';
  for (const element of document.querySelectorAll('[data-text]')) element.textContent = text(element.dataset.text);
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
