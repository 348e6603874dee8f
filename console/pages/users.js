// Users: the list (found by account or name among all of them, a page at a
// time), adding a user, and one user's details, organisations, groups,
// roles, security and extended attributes, recent logins, password reset,
// unlock and deletion.
import {add, clear, confirmButton, form, h, note, section, table} from '../dom.js';
import {lang, policyText, secTitle, t} from '../i18n.js';
import {Batch, byRef, change, listOf, reads, record, records} from '../rpc.js';
import {heading, loadOrgs, show, treeOptions} from './common.js';
import {addMembership} from './orgs.js';

const PAGE = 50;

export async function render(main, params, me) {
  if (params[0]) return user(main, params[0], me);
  return list(main, me);
}

const stateText = (s) => (['0', '1', '2', '3'].includes(s) ? t('user.state.' + s) : s);

// ---- the list

// The columns the list sorts by (UserTasks.findUsr's sort names).
const SORTS = [['account', 'account'], ['name', 'person'], ['state', 'user.state'], ['account_time', 'user.accountTime']];

// One page of the users the filters select, in the order asked, and how
// many there are: UserTasks, in one batch.
async function findUsers(query, page) {
  const b = new Batch();
  const tasks = b.create('TivelMgt.UserTasks');
  const filter = [query.q, query.org, query.grp, query.state];
  const found = b.call(tasks, 'findUsr', ...filter, query.sort, page, PAGE);
  const rows = b.dump(found);
  const total = b.call(tasks, 'countUsr', ...filter);
  const a = await b.run();
  return {rows: records(a.result(rows)), total: Number(a.result(total))};
}

// The users a page at a time from the server, found by account or name,
// department, group and state, sorted by a column: the page never holds
// more than one page of them, however many there are. Rows can be chosen
// to join or leave a group together.
async function list(main, me) {
  let page = 0;
  const query = {q: '', org: '', grp: '', state: '', sort: 'account'};
  let asked = 0;
  let shown = [];
  const chosen = new Map();  // usr_no -> account
  const body = h('div', {class: 'results'});
  const counter = h('p', {class: 'count', 'aria-live': 'polite'});
  const sortHead = (key, word) => {
    const on = query.sort === key || query.sort === '-' + key;
    const down = query.sort === '-' + key;
    return h('button', {type: 'button', class: 'sort', 'data-sort': key,
                        onclick: () => { query.sort = on && !down ? '-' + key : key; page = 0; draw(); }},
             t(word), on ? (down ? ' ▼' : ' ▲') : '');
  };
  const draw = async () => {
    const mine = ++asked;
    const data = await findUsers(query, page);
    if (mine !== asked) return;  // a later search has been asked for
    shown = data.rows;
    const pages = Math.max(1, Math.ceil(data.total / PAGE));
    const filtered = query.q || query.org || query.grp || query.state;
    counter.textContent = filtered ? t('users.found', data.total) : t('users.count', data.total);
    const all = h('input', {type: 'checkbox', 'aria-label': t('users.chooseAll'),
                            checked: shown.length > 0 && shown.every((u) => chosen.has(u.Usr_No)),
                            onchange: (e) => {
                              for (const u of shown) e.target.checked ? chosen.set(u.Usr_No, u.Account) : chosen.delete(u.Usr_No);
                              draw();
                            }});
    const grid = table([
      [all, (u) => h('input', {type: 'checkbox', 'aria-label': t('users.choose', u.Account), checked: chosen.has(u.Usr_No),
                               onchange: (e) => { e.target.checked ? chosen.set(u.Usr_No, u.Account) : chosen.delete(u.Usr_No);
                                                  bulk.update(); }})],
      ...SORTS.map(([key, word]) => [sortHead(key, word), {
        account: (u) => h('a', {href: '#/users/' + encodeURIComponent(u.Usr_No)}, u.Account),
        name: (u) => u.Name,
        state: (u) => stateText(u.State),
        account_time: (u) => u.Account_Time,
      }[key]]),
      [t('user.loginCount'), (u) => u.Login_Count],
    ], shown);
    for (const th of grid.querySelectorAll('th')) {
      const key = th.querySelector('button.sort')?.dataset.sort;
      if (key) th.setAttribute('aria-sort', query.sort === key ? 'ascending' : query.sort === '-' + key ? 'descending' : 'none');
    }
    show(body, grid,
         h('div', {class: 'pager'},
           h('button', {type: 'button', disabled: page === 0, onclick: () => { page--; draw(); }}, t('prev')),
           h('span', {}, t('page.of', page + 1, pages, data.total)),
           h('button', {type: 'button', disabled: page >= pages - 1, onclick: () => { page++; draw(); }}, t('next'))));
    bulk.update();
    exportLink.href = '/console/export/users.csv?' + new URLSearchParams(
      [...Object.entries(query).filter(([, v]) => v !== ''), ['csrf', me.csrf]]);
  };
  const search = h('input', {type: 'search', name: 'q', placeholder: t('search.hint'), 'aria-label': t('search.hint')});
  const select = (name, word, options) => {
    const s = h('select', {name, 'aria-label': t(word)}, h('option', {value: ''}, t(word) + ': ' + t('any')),
                options.map(([v, label]) => h('option', {value: v}, label)));
    s.addEventListener('change', () => { query[name] = s.value; page = 0; draw(); });
    return s;
  };
  const orgSelect = select('org', 'user.dept', []);
  const grpSelect = select('grp', 'nav.groups', []);
  const stateSelect = select('state', 'user.state', ['0', '1', '2', '3'].map((v) => [v, stateText(v)]));
  const find = () => {
    query.q = search.value.trim();
    page = 0;
    return draw();
  };
  let typing = null;
  search.addEventListener('input', () => {
    clearTimeout(typing);
    typing = setTimeout(find, 200);
  });
  const adding = h('div');
  const locked = h('div');
  const exportLink = h('a', {href: '/console/export/users.csv', class: 'button', download: 'users.csv'}, t('users.export'));
  const bulk = bulkMembership(chosen, () => draw());
  show(main, heading(t('users.title')),
       h('form', {class: 'search', role: 'search', onsubmit: (e) => { e.preventDefault(); clearTimeout(typing); find(); }},
         search, h('button', {type: 'submit'}, t('search')),
         h('button', {type: 'button', onclick: () => addUser(adding)}, t('users.add')),
         h('button', {type: 'button', 'data-locked': '', onclick: () => lockedUsers(locked)}, t('users.locked')), exportLink),
       h('div', {class: 'search filters-row'}, orgSelect, grpSelect, stateSelect),
       adding, locked, counter, body, bulk);
  await draw();
  performance.mark('users-ready');
  // The choices of the filters come after the first page is shown.
  const [tree, groupList] = await Promise.all([loadOrgs(), allGroups()]);
  add(orgSelect, treeOptions(tree.roots, (r) => r.Name).map(([v, label]) => h('option', {value: v}, label)));
  add(grpSelect, groupList.map((g) => h('option', {value: g.Grp_no}, g.Name)));
  bulk.groups(groupList);
}

async function allGroups() {
  const b = new Batch();
  const all = b.dump(b.call(b.create('TivelMgt.UmMgt'), 'getAllGrp'));
  return records((await b.run()).result(all));
}

// The chosen users joined to, or taken out of, one group in one change
// (every one of them or none), with one log entry naming them all. Users
// already in (or not in) the group are left as they are and named.
function bulkMembership(chosen, again) {
  const msg = note();
  const count = h('span', {class: 'count'});
  const grp = h('select', {name: 'bulkGrp', 'aria-label': t('nav.groups')});
  const run = async (joining) => {
    if (!chosen.size || !grp.value) return msg.show(t('users.chooseFirst'));
    const name = grp.selectedOptions[0].textContent;
    const read = new Batch();
    const members = read.dump(read.call(read.create('TivelMgt.UmMgt'), 'getUsrOfGrp', grp.value));
    const inGroup = new Set(records((await read.run()).result(members)).map((u) => u.Usr_No));
    const todo = [...chosen].filter(([usrNo]) => inGroup.has(usrNo) !== joining);
    const skipped = [...chosen].filter(([usrNo]) => inGroup.has(usrNo) === joining).map(([, account]) => account);
    const already = skipped.length ? ' ' + t(joining ? 'users.already' : 'users.notIn', skipped.join(', ')) : '';
    if (!todo.length) return msg.show(already.trim());
    const accounts = todo.map(([, account]) => account);
    const done = await change((joining ? '批量加入组 ' : '批量移出组 ') + accounts.join(', ') + (joining ? ' → ' : ' ← ') + name,
                              msg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      for (const [usrNo] of todo) {
        if (joining) b.change(um, 'addGrp2Usr', b.record('cUmGrp2usr', {Grp_no: grp.value, Usr_No: usrNo}));
        else b.change(um, 'delGrp2Usr', grp.value, usrNo);
      }
    });
    if (done) {
      chosen.clear();
      await again();
      msg.show(t(joining ? 'users.joined' : 'users.left', accounts.length, name) + already, 'ok');
    }
  };
  const el = section(t('users.bulk'), h('div', {class: 'buttons'}, count, grp,
                     h('button', {type: 'button', onclick: () => run(true)}, t('users.join')),
                     h('button', {type: 'button', onclick: () => run(false)}, t('users.leave'))), msg);
  el.update = () => { count.textContent = t('users.chosen', chosen.size); };
  el.groups = (list) => add(grp, list.map((g) => h('option', {value: g.Grp_no}, g.Name + ' (' + g.Grp_no + ')')));
  return el;
}

// The users whose lock is in force, each with its count and an unlock button.
async function lockedUsers(el, notice = '') {
  const b = new Batch();
  const dump = b.dump(b.call(b.create('TivelMgt.UserTasks'), 'getLockedUsr'));
  const people = records((await b.run()).result(dump));
  const msg = note();
  const title = section(t('users.locked'));
  title.querySelector('h2').dataset.lockedList = '';
  show(el, add(title,
                   people.length ? table([
                     [t('account'), (u) => h('a', {href: '#/users/' + encodeURIComponent(u.Usr_No)}, u.Account)],
                     [t('person'), (u) => u.Name],
                     [t('users.errors'), (u) => u.Login_Count],
                     ['', (u) => h('button', {type: 'button', onclick: async () => {
                       const done = await change('解锁帐号 ' + u.Account, msg, (c) => {
                         c.change(c.create('TivelMgt.UmMgt'), 'cleanUsrLogErrNum', u.Usr_No);
                       });
                       if (done) await lockedUsers(el, t('users.unlocked', u.Account));
                     }}, t('user.unlockShort'))],
                   ], people) : h('p', {}, t('users.noneLocked')), msg));
  if (notice) msg.show(notice, 'ok');
}

// The password rules, when [Policy] sets some, under a form's password field.
async function showPasswordRules(f) {
  const rules = await reads.passwordRules(lang());
  if (rules) f.control('pwd').closest('label, div')?.after(h('p', {class: 'hint'}, rules));
}

async function addUser(el) {
  const tree = await loadOrgs();
  const f = form([
    {name: 'account', label: t('account')},
    {name: 'pwd', label: t('user.pwd'), type: 'password'},
    {name: 'name', label: t('person')},
    {name: 'netName', label: t('user.netName')},
    {name: 'phone', label: t('user.phone')},
    {name: 'mobile', label: t('user.mobile')},
    {name: 'email', label: t('user.email')},
    {name: 'org', label: t('user.dept'), type: 'select', options: [['', t('none')], ...treeOptions(tree.roots, (r) => r.Name)]},
  ], t('add'), async (v, msg) => {
    let no = null;
    const done = await change('添加用户 ' + v.account, msg, (b) => {
      // AdminMgt.addUsr registers the user (group 3); its key, read back,
      // makes it a member of its department in the same change.
      b.change(b.create('TivelMgt.AdminMgt'), 'addUsr', v.account, v.pwd, v.name, v.netName, v.phone, v.mobile,
               v.email, '');
      const um = b.create('TivelMgt.UmMgt');
      no = b.get(b.call(um, 'getUsrByAccount', v.account), 'Usr_No');
      if (v.org) b.change(um, 'addOrg2Usr', b.record('cUmOrg2usr', {Org_No: v.org, Usr_No: no, IsMain: '0'}));
    });
    if (done) location.hash = '#/users/' + encodeURIComponent(done.result(no));
  });
  show(el, section(t('users.add'), f));
  f.control('account').focus();
}

// ---- one user

async function user(main, usrNo, me) {
  const b = new Batch();
  const um = b.create('TivelMgt.UmMgt');
  const app = b.create('TivelMgt.AppMgt');
  const u = b.dump(b.call(um, 'getUsr', usrNo));
  const orgCall = b.call(um, 'getOrgOfUsr', usrNo);
  const orgs = b.dump(orgCall);
  const grps = b.dump(b.call(um, 'getGrpOfUsr', usrNo));
  const allGrps = b.dump(b.call(um, 'getAllGrp'));
  const rolCall = b.call(app, 'getRolOfUsr', usrNo);
  const rols = b.dump(rolCall);
  const allRolCall = b.call(app, 'getRolOfApp', '');
  const allRols = b.dump(allRolCall);
  const appsCall = b.call(app, 'getAllApp');
  const appsDump = b.dump(appsCall);
  const usaCall = b.call(um, 'getUsaOfUsr', usrNo);
  const usa = b.dump(usaCall);
  const usi = b.dump(b.call(um, 'getUsiOfUsr', usrNo));
  const uaa = b.dump(b.call(um, 'getUaaOfUsr', usrNo));
  const uaiCall = b.call(um, 'getUaiOfUsr', usrNo);
  const uai = b.dump(uaiCall);
  const errors = b.call(um, 'getUsrSecValue', 'LogErrNum', usrNo);
  const lockAt = b.call(um, 'getUsrSecValue', 'LogErrLockNum', usrNo);
  const a = await b.run();
  const rec = record(a.answer(u).result);
  if (!rec) {
    const msg = note();
    msg.show(t('failed') + usrNo);
    return show(main, heading(t('users.title')), msg);
  }
  const [logins, sessions, memberships, tree] = await Promise.all([
    reads.logins(usrNo),
    reads.sessions(usrNo),
    reads.memberships(usrNo),
    loadOrgs(),
  ]);
  const again = () => user(main, usrNo, me);
  const sec = securityOf(listOf(a, usaCall, usa), records(a.answer(usi).result));

  show(main,
       h('p', {}, h('a', {href: '#/users'}, '← ' + t('user.back'))),
       heading(rec.Name + ' (' + rec.Account + ')'),
       basics(rec, usrNo, again),
       actions(rec, usrNo, me, a.result(errors), a.result(lockAt), sec, again),
       organisations(usrNo, rec, listOf(a, orgCall, orgs), memberships, tree, again),
       groups(usrNo, rec, records(a.result(grps)), records(a.result(allGrps)), again),
       roles(usrNo, rec, listOf(a, rolCall, rols), listOf(a, allRolCall, allRols),
             new Map(listOf(a, appsCall, appsDump).map((x) => [x.App_No, x.Name])), again),
       security(usrNo, rec, sec, again),
       extended(usrNo, rec, records(a.answer(uaa).result), listOf(a, uaiCall, uai), again),
       consoleSessions(usrNo, rec, sessions, again),
       section(t('user.logins'), table([
         [t('login.time'), (l) => l.time || ''],
         [t('login.address'), (l) => l.address || ''],
         [t('login.valid'), (l) => (l.valid ? t('yes') : t('no'))],
       ], logins)));
}

// The user's open console sessions and "sign out everywhere".
function consoleSessions(usrNo, rec, sessions, again) {
  const msg = note();
  const end = h('button', {type: 'button', disabled: sessions.length === 0, onclick: async () => {
    let ended;
    const done = await change('结束全部会话 ' + rec.Account, msg, (b) => {
      ended = b.change(b.create('TivelMgt.ConsoleMgt'), 'endUsrSessions', usrNo, byRef(0));
    });
    if (!done) return;
    msg.show(t('sessions.ended', String(done.refs(ended)['1'])), 'ok');
    await again();
  }}, t('sessions.end'));
  return section(t('sessions.title'), table([
    [t('login.time'), (s) => s.time],
    [t('login.address'), (s) => s.address],
    [t('sessions.lastSeen'), (s) => s.lastSeen],
    ['', (s) => (s.current ? t('sessions.current') : '')],
  ], sessions), h('div', {class: 'buttons'}, end), msg);
}

function basics(rec, usrNo, again) {
  const f = form([
    {name: 'Account', label: t('account'), value: rec.Account, readonly: true},
    {name: 'Name', label: t('person'), value: rec.Name},
    {name: 'NetName', label: t('user.netName'), value: rec.NetName},
    {name: 'Address', label: t('user.address'), value: rec.Address},
    {name: 'Phone', label: t('user.phone'), value: rec.Phone},
    {name: 'Mobile', label: t('user.mobile'), value: rec.Mobile},
    {name: 'Email', label: t('user.email'), value: rec.Email},
    {name: 'EmailOA', label: t('user.emailOA'), value: rec.EmailOA},
    {name: 'State', label: t('user.state'), type: 'select', value: rec.State,
     options: ['0', '1', '2', '3'].map((s) => [s, stateText(s)])},
    {name: 'Login_Mode', label: t('user.loginMode'), value: rec.Login_Mode},
    {name: 'Account_Time', label: t('user.accountTime'), value: rec.Account_Time, readonly: true},
  ], t('save'), async (v, msg) => {
    // The record as stored (its password included), with the fields changed.
    const done = await change('修改用户 ' + rec.Account, msg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      const r = b.call(um, 'getUsr', usrNo);
      for (const k of ['Name', 'NetName', 'Address', 'Phone', 'Mobile', 'Email', 'EmailOA', 'Login_Mode']) b.put(r, k, v[k]);
      b.put(r, 'State', Number(v.State));
      b.change(um, 'updateUsr', r, usrNo);
    });
    if (done) msg.show(t('saved'), 'ok');
  });
  return section(t('user.basic'), f);
}

function actions(rec, usrNo, me, errors, lockAt, sec, again) {
  const count = Number(errors || 0);
  const threshold = Number(lockAt || 0);
  const locked = threshold > 0 && count >= threshold;
  const status = h('p', {class: locked ? 'warning' : ''}, t('user.errors', errors || '0', lockAt || '0'),
                   locked ? ' — ' + t('user.locked') : '');
  // The new password and, asked by default, the demand to change it at the
  // next login (PwdFirstLimit 1), in one change.
  const first = sec.get('PwdFirstLimit');
  const reset = form([
    {name: 'pwd', label: t('user.newPwd'), type: 'password'},
    {name: 'mustChange', label: t('user.mustChange'), type: 'checkbox', value: !!first},
  ], t('user.resetPwd'), async (v, msg) => {
    if (!v.pwd) return msg.show(t('password.empty'));
    const done = await change('重置密码 ' + rec.Account + (v.mustChange ? '（下次登录须修改）' : ''), msg, (b) => {
      b.change(b.create('TivelMgt.UmMgt'), 'changePwd', usrNo, v.pwd);
      if (v.mustChange && first) setSecurity(b, usrNo, first.def, first.had, '1');
    });
    if (done) {
      reset.control('pwd').value = '';
      msg.show(t(v.mustChange ? 'user.resetMust' : 'user.resetDone'), 'ok');
    }
  });
  showPasswordRules(reset);
  const unlockMsg = note();
  const unlock = h('button', {type: 'button', onclick: async () => {
    const done = await change('解锁帐号 ' + rec.Account, unlockMsg, (b) => {
      b.change(b.create('TivelMgt.UmMgt'), 'cleanUsrLogErrNum', usrNo);
    });
    if (done) await again();
  }}, t('user.unlock'));
  const delMsg = note();
  const remove = confirmButton(t('user.deleteUser'), t('confirm.delete'), async () => {
    if (rec.Account === me.account) return delMsg.show(t('user.notSelf'));
    // The user and what belongs to it only: memberships, roles, attribute values.
    const done = await change('删除用户 ' + rec.Account, delMsg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      b.change(um, 'delOrg2Usr', '', usrNo);
      b.change(um, 'delGrp2Usr', '', usrNo);
      b.change(b.create('TivelMgt.AppMgt'), 'delRol2Usr', '', usrNo);
      b.change(um, 'delUsi', '', usrNo);
      b.change(um, 'delUai', '', usrNo);
      b.change(um, 'delUsr', usrNo);
    });
    if (done) location.hash = '#/users';
  });
  return section(t('user.actions'), status, h('div', {class: 'buttons'}, unlock), unlockMsg, reset,
                 h('div', {class: 'buttons'}, remove), delMsg);
}

function organisations(usrNo, rec, orgs, memberships, tree, again) {
  const main = new Map(memberships.map((m) => [m.org, m]));
  const msg = note();
  const rows = table([
    [t('name'), (o) => o.Name],
    ['', (o) => (main.get(o.Org_No)?.main ? t('main') : t('other'))],
    ['', (o) => h('button', {type: 'button', onclick: async () => {
      const done = await change('移出部门 ' + rec.Account + ' ← ' + o.Name, msg, (b) => {
        b.change(b.create('TivelMgt.UmMgt'), 'delOrg2Usr', o.Org_No, usrNo);
      });
      if (done) await again();
    }}, t('remove'))],
  ], orgs);
  const f = form([
    {name: 'org', label: t('user.dept'), type: 'select', options: treeOptions(tree.roots, (r) => r.Name)},
    {name: 'main', label: t('asMain'), type: 'checkbox'},
  ], t('add'), async (v, fmsg) => {
    const previous = memberships.find((m) => m.main);
    const org = tree.nodes.get(v.org);
    if (!org) return;
    let done;
    if (v.main && previous) {
      // One main organisation: the former one becomes another, in the same change.
      done = await change('设置主部门 ' + rec.Account + ' → ' + org.rec.Name, fmsg, (b) => {
        const um = b.create('TivelMgt.UmMgt');
        b.change(um, 'delOrg2Usr', previous.org, usrNo);
        b.change(um, 'addOrg2Usr', b.record('cUmOrg2usr', {Org_No: previous.org, Usr_No: usrNo, IsMain: '1',
                                                           Priority: previous.priority || undefined}));
        b.change(um, 'addOrg2Usr', b.record('cUmOrg2usr', {Org_No: v.org, Usr_No: usrNo, IsMain: '0'}));
      });
    } else {
      done = await addMembership(v.org, rec.Account, v.main, fmsg, org.rec.Name);
    }
    if (done) await again();
  });
  return section(t('user.orgs'), rows, msg, f);
}

function groups(usrNo, rec, mine, all, again) {
  const msg = note();
  const rows = table([
    [t('key'), (g) => g.Grp_no],
    [t('name'), (g) => g.Name],
    ['', (g) => h('button', {type: 'button', onclick: async () => {
      const done = await change('移出组 ' + rec.Account + ' ← ' + g.Name, msg, (b) => {
        b.change(b.create('TivelMgt.UmMgt'), 'delGrp2Usr', g.Grp_no, usrNo);
      });
      if (done) await again();
    }}, t('remove'))],
  ], mine);
  const have = new Set(mine.map((g) => g.Grp_no));
  const f = form([{name: 'grp', label: t('nav.groups'), type: 'select',
                   options: all.filter((g) => !have.has(g.Grp_no)).map((g) => [g.Grp_no, g.Name + ' (' + g.Grp_no + ')'])}],
  t('add'), async (v, fmsg) => {
    if (!v.grp) return;
    const name = all.find((g) => g.Grp_no === v.grp)?.Name || v.grp;
    const done = await change('加入组 ' + rec.Account + ' → ' + name, fmsg, (b) => {
      b.change(b.create('TivelMgt.UmMgt'), 'addGrp2Usr', b.record('cUmGrp2usr', {Grp_no: v.grp, Usr_No: usrNo}));
    });
    if (done) await again();
  });
  return section(t('user.groups'), rows, msg, f);
}

function roles(usrNo, rec, mine, all, appName, again) {
  const app = (r) => appName.get(r.App_No) || r.App_No;
  const msg = note();
  const rows = table([
    [t('name'), (r) => r.Name],
    [t('roles.app'), app],
    ['', (r) => h('button', {type: 'button', onclick: async () => {
      const done = await change('移除角色 ' + rec.Account + ' ← ' + r.Name, msg, (b) => {
        b.change(b.create('TivelMgt.AppMgt'), 'delRol2Usr', r.Rol_No, usrNo);
      });
      if (done) await again();
    }}, t('remove'))],
  ], mine);
  const have = new Set(mine.map((r) => r.Rol_No));
  const f = form([{name: 'rol', label: t('nav.roles'), type: 'select',
                   options: all.filter((r) => !have.has(r.Rol_No)).map((r) => [r.Rol_No, r.Name + ' (' + app(r) + ')'])}],
  t('add'), async (v, fmsg) => {
    if (!v.rol) return;
    const name = all.find((r) => r.Rol_No === v.rol)?.Name || v.rol;
    const done = await change('授予角色 ' + rec.Account + ' → ' + name, fmsg, (b) => {
      b.change(b.create('TivelMgt.AppMgt'), 'addRol2Usr', b.record('cAppRol2Usr', {Rol_No: v.rol, Usr_No: usrNo}));
    });
    if (done) await again();
  });
  return section(t('user.roles'), rows, msg, f);
}

// How each policy attribute is edited: a date, a switch (1 on, 0 off), a
// count, or text. The second factor's secret and the directory password
// never show (the first is enrolled or removed here, the second is not used).
const SEC_KIND = {AcntLimitDate: 'date', PwdLimitDate: 'date', IsPwdTwo: 'flag', PwdFirstLimit: 'flag',
                  LogErrNum: 'count', LogErrLockNum: 'count'};
const SEC_HIDDEN = new Set(['PwdTwo', 'LdapPwd']);

// The calls that replace the user's value of a security attribute (whole, in the batch's change).
function setSecurity(b, usrNo, def, had, value) {
  const um = b.create('TivelMgt.UmMgt');
  if (had) b.change(um, 'delUsi', def.Usa_No, usrNo);
  b.change(um, 'addUsi', b.record('cUmUsrSecInst', {Usa_No: def.Usa_No, Usr_No: usrNo, Usi_Value: value, IsAvail: 1}));
}

// The user's security attributes by name: {def, had, value}.
function securityOf(definitions, values) {
  const value = new Map(values.map((v) => [v.Usa_No, v.Usi_Value]));
  return new Map(definitions.map((d) => [d.Name, {def: d, had: value.has(d.Usa_No), value: value.get(d.Usa_No)}]));
}

// The security attributes in force for the user, each shown as what it
// means with a control of its kind; the stored keys and texts behind a
// disclosure. A value is replaced whole in one change.
function security(usrNo, rec, sec, again) {
  const msg = note();
  const rows = [...sec.values()].filter(({def}) => !SEC_HIDDEN.has(def.Name));
  const control = ({def, value}) => {
    const kind = SEC_KIND[def.Name] || 'text';
    const label = secTitle(def.Name);
    if (kind === 'flag') {
      return h('input', {type: 'checkbox', role: 'switch', name: 'usa' + def.Usa_No, 'aria-label': label,
                         checked: (value ?? def.Default_Value) === '1'});
    }
    const v = value ?? '';
    return h('input', {type: kind === 'date' ? 'date' : kind === 'count' ? 'number' : 'text', name: 'usa' + def.Usa_No,
                       min: kind === 'count' ? '0' : null, 'aria-label': label,
                       value: kind === 'date' ? v.slice(0, 10) : v});
  };
  const grid = table([
    [t('sec.setting'), ({def}) => h('span', {}, h('strong', {}, secTitle(def.Name)), h('br'),
                                    h('small', {class: 'count'}, policyText(def.Name) || def.Disc))],
    [t('sec.value'), (r) => {
      const input = control(r);
      const save = h('button', {type: 'button', onclick: async () => {
        const v = input.type === 'checkbox' ? (input.checked ? '1' : '0') : input.value.trim();
        const done = await change('设置安全属性 ' + rec.Account + ' ' + r.def.Name + ' = ' + v, msg,
                                  (b) => setSecurity(b, usrNo, r.def, r.had, v));
        if (done) await again();
      }}, t('save'));
      const clearValue = r.had ? h('button', {type: 'button', onclick: async () => {
        const done = await change('清除安全属性 ' + rec.Account + ' ' + r.def.Name, msg, (b) => {
          b.change(b.create('TivelMgt.UmMgt'), 'delUsi', r.def.Usa_No, usrNo);
        });
        if (done) await again();
      }}, t('sec.clear')) : null;
      return h('span', {class: 'inline'}, input, save, clearValue);
    }],
    [t('sec.default'), ({def}) => def.Default_Value],
  ], rows);
  const raw = h('details', {class: 'raw'}, h('summary', {}, t('sec.raw')), table([
    [t('key'), ({def}) => def.Usa_No],
    [t('name'), ({def}) => def.Name],
    [t('sec.default'), ({def}) => (SEC_HIDDEN.has(def.Name) ? '' : def.Default_Value)],
    [t('sec.stored'), ({def, had, value}) => (SEC_HIDDEN.has(def.Name) ? (had ? t('sec.secretSet') : '') : value ?? '')],
  ], [...sec.values()]));
  return section(t('user.security'), grid, msg, secondFactor(usrNo, rec, sec, again), raw);
}

// The second factor: enrolled (a new secret shown once) or removed.
function secondFactor(usrNo, rec, sec, again) {
  const msg = note();
  const flag = sec.get('IsPwdTwo');
  const secret = sec.get('PwdTwo');
  const on = flag?.value === '1' || !!secret?.had;
  const remove = on && flag && secret ? confirmButton(t('totp.remove'), t('totp.removeConfirm'), async () => {
    const done = await change('移除二次验证 ' + rec.Account, msg, (b) => {
      if (secret.had) b.change(b.create('TivelMgt.UmMgt'), 'delUsi', secret.def.Usa_No, usrNo);
      setSecurity(b, usrNo, flag.def, flag.had, '0');
    });
    if (done) await again();
  }) : null;
  return h('div', {class: 'second-factor'}, h('h3', {}, t('totp.title')),
           h('p', {}, on ? t('totp.on') : t('totp.off')),
           h('div', {class: 'buttons'}, secret ? enrolButton(usrNo, rec, msg) : null, remove), msg);
}

// Gives the user a new second-factor secret and shows it, with its QR
// code, this once.
function enrolButton(usrNo, rec, msg) {
  const shown = h('div', {class: 'enrolment'});
  const button = confirmButton(t('totp.enroll'), t('totp.confirm'), async () => {
    let enrolled;
    const done = await change('启用二次验证 ' + rec.Account, msg, (b) => {
      enrolled = b.change(b.create('TivelMgt.ConsoleMgt'), 'enrollUsrTotp', usrNo, byRef(''), byRef(''), byRef(''));
    });
    if (!done) return;
    const [secret, qr] = [done.refs(enrolled)['1'], done.refs(enrolled)['3']];
    clear(shown).append(
      h('img', {src: 'data:image/svg+xml,' + encodeURIComponent(qr), alt: t('totp.qr'), width: 200, height: 200}),
      h('p', {}, t('totp.secret'), h('code', {}, secret)),
      h('p', {class: 'warning'}, t('totp.once', rec.Account)));
  });
  return h('span', {}, button, shown);
}

function extended(usrNo, rec, definitions, values, again) {
  const value = new Map(values.map((v) => [v.Uaa_No, v.Uai_Value]));
  const msg = note();
  const rows = table([
    [t('name'), (d) => d.Name],
    [t('attr.value'), (d) => {
      const input = h('input', {type: 'text', 'aria-label': d.Name, value: value.get(d.Uaa_No) ?? ''});
      const save = h('button', {type: 'button', onclick: async () => {
        const done = await change('设置扩展属性 ' + rec.Account + ' ' + d.Name, msg, (b) => {
          const um = b.create('TivelMgt.UmMgt');
          if (value.has(d.Uaa_No)) b.change(um, 'delUai', d.Uaa_No, usrNo);
          b.change(um, 'addUai', b.record('cUmUsrAddInst', {Uaa_No: d.Uaa_No, Usr_No: usrNo, Uai_Value: input.value}));
        });
        if (done) await again();
      }}, t('save'));
      return h('span', {class: 'inline'}, input, save);
    }],
  ], definitions);
  const f = form([
    {name: 'name', label: t('name')},
    {name: 'global', label: t('ext.global'), type: 'checkbox'},
  ], t('ext.addDef'), async (v, fmsg) => {
    const done = await change('新增扩展属性 ' + v.name, fmsg, (b) => {
      b.change(b.create('TivelMgt.UmMgt'), 'addUaa', b.record('cUmUsrAddAttr', {
        Usr_No: v.global ? '0' : usrNo, Name: v.name, Data_type: 0, Position: 0, IsNull: 1, IsGobal: v.global ? 1 : 0,
      }), byRef(''));
    });
    if (done) await again();
  });
  return section(t('user.extended'), rows, msg, f);
}

