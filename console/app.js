// The console's frame: the sign-in (and the password change a login may
// demand), the header with the pages, the language switch and the
// sign-out, and the hash routes (#/users, #/users/USR_...) that show a page.
import {resultCode} from './codes.js';
import {clear, form, h, note} from './dom.js';
import {lang, loginText, switchLang, t} from './i18n.js';
import {SessionEnded, api, setCsrf} from './rpc.js';
import * as apps from './pages/apps.js';
import * as groups from './pages/groups.js';
import * as log from './pages/log.js';
import * as orgs from './pages/orgs.js';
import * as roles from './pages/roles.js';
import * as system from './pages/system.js';
import * as users from './pages/users.js';

const pages = [
  ['orgs', 'nav.orgs', orgs],
  ['users', 'nav.users', users],
  ['groups', 'nav.groups', groups],
  ['roles', 'nav.roles', roles],
  ['apps', 'nav.apps', apps],
  ['system', 'nav.system', system],
  ['log', 'nav.log', log],
];

const root = document.getElementById('app');
let me = null;

function setTitle(text) { document.title = text ? text + ' - ' + t('app.title') : t('app.title'); }

function langButton(after) {
  return h('button', {type: 'button', class: 'lang', lang: lang() === 'en' ? 'zh-CN' : 'en',
                      onclick: () => { switchLang(); after(); }}, t('lang.switch'));
}

// ---- signing in

function signIn(message = '') {
  me = null;
  setTitle('');
  const f = form([
    {name: 'account', label: t('signin.account'), autocomplete: 'username'},
    {name: 'password', label: t('signin.password'), type: 'password', autocomplete: 'current-password'},
  ], t('signin.submit'), async (v, msg) => {
    const r = await api.post('/console/api/signin', {account: v.account, password: v.password});
    opened(r, msg, v.account, v.password);
  });
  if (message) f.msg.show(message, 'info');
  clear(root).append(h('main', {class: 'signin'}, h('div', {class: 'top'}, langButton(() => signIn(message))),
                       h('h1', {}, t('signin.title')), f));
  f.control('account').focus();
}

// What a sign-in (or a password change) answered.
function opened(r, msg, account, password) {
  if (r.status === 200) return start(r.data);
  if (r.status === 202 && r.data?.step === 'code') return codeStep(r.data.challenge, account);
  if (r.status === 401 && r.data?.code === resultCode.LoginPasswordMustChange) return changePassword(account, password);
  if (r.status === 401 && r.data?.code) return msg.show(loginText(r.data.code));
  if (r.status === 403 && r.data?.error === 'denied') return msg.show(t('signin.denied'));
  if (r.data?.error === 'empty') return msg.show(t('password.empty'));
  msg.show(t('signin.failed') + (r.data?.message || r.status));
}

// The second step: the one-time code of the authenticator app. The
// challenge the password step answered holds for two minutes, for this
// browser's address only.
function codeStep(challenge, account) {
  const f = form([
    {name: 'code', label: t('code.label'), autocomplete: 'one-time-code'},
  ], t('code.submit'), async (v, msg) => {
    const r = await api.post('/console/api/code', {challenge, code: v.code});
    if (r.status === 200) return start(r.data);
    if (r.status === 401 && r.data?.error === 'code') {
      f.control('code').value = '';
      f.control('code').focus();
      return msg.show(t('code.wrong'));
    }
    if (r.status === 401) return signIn(t('code.expired'));
    opened(r, msg, account, '');
  });
  f.msg.show(t('code.hint'), 'info');
  clear(root).append(h('main', {class: 'signin'}, h('div', {class: 'top'}, langButton(() => codeStep(challenge, account))),
                       h('h1', {}, t('code.title')), h('p', {}, account), f));
  f.control('code').focus();
}

function changePassword(account, password) {
  const f = form([
    {name: 'old', label: t('password.old'), type: 'password', value: password, autocomplete: 'current-password'},
    {name: 'fresh', label: t('password.new'), type: 'password'},
    {name: 'again', label: t('password.repeat'), type: 'password'},
  ], t('password.submit'), async (v, msg) => {
    if (!v.fresh) return msg.show(t('password.empty'));
    if (v.fresh !== v.again) return msg.show(t('password.mismatch'));
    const r = await api.post('/console/api/password', {account, password: v.old, newPassword: v.fresh});
    opened(r, msg, account, v.fresh);
  });
  f.msg.show(loginText(resultCode.LoginPasswordMustChange), 'info');
  clear(root).append(h('main', {class: 'signin'}, h('h1', {}, t('password.title')), h('p', {}, account), f));
  f.control('fresh').focus();
}

// ---- the signed-in frame

function start(session) {
  me = session;
  setCsrf(session.csrf);
  frame();
  if (!location.hash || location.hash === '#' || location.hash === '#/') location.hash = '#/orgs';
  else show();
}

function frame() {
  const nav = h('nav', {'aria-label': t('app.title')},
                h('ul', {}, pages.map(([name, word]) => h('li', {}, h('a', {href: '#/' + name, 'data-page': name}, t(word))))));
  const out = h('button', {type: 'button', onclick: signOut}, t('signout'));
  clear(root).append(
    h('header', {},
      h('span', {class: 'brand'}, t('app.title')), nav,
      h('span', {class: 'who', title: t('signed.in') + (me.name || me.account) + ' (' + me.account + ')'}, t('signed.in'), h('strong', {}, me.name || me.account), ' (', me.account, ')'),
      langButton(() => { frame(); show(); }), out),
    h('main', {id: 'main', tabindex: '-1'}));
}

async function signOut() {
  await api.post('/console/api/signout');
  location.hash = '';
  signIn();
}

// Shows the page the hash names.
async function show() {
  if (!me) return;
  const [, name = 'orgs', ...params] = location.hash.split('/');
  const page = pages.find(([p]) => p === name) || pages[0];
  for (const a of root.querySelectorAll('nav a')) {
    if (a.dataset.page === page[0]) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  }
  const main = document.getElementById('main');
  clear(main).append(h('p', {class: 'loading'}, t('loading')));
  setTitle(t(page[1]));
  delete document.body.dataset.ready;
  try {
    await page[2].render(main, params.map(decodeURIComponent), me);
    document.body.dataset.ready = page[0];
  } catch (e) {
    if (e instanceof SessionEnded) return signIn(t('signin.ended'));
    const msg = note();
    msg.show(t('failed') + e.message);
    clear(main).append(msg);
  }
}

window.addEventListener('hashchange', show);
window.addEventListener('unhandledrejection', (e) => {
  if (e.reason instanceof SessionEnded) {
    e.preventDefault();
    signIn(t('signin.ended'));
  }
});

document.documentElement.lang = lang();
api.get('/console/api/session').then(start, (e) => signIn(e instanceof SessionEnded ? '' : e.message));
