// Users: the list (found by account or name among all of them, a page at a
// time), adding a user, and one user's details, organisations, groups,
// roles, security and extended attributes, recent logins, password reset,
// unlock and deletion.
import {clear, confirmButton, form, h, note, section, table} from '../dom.js';
import {policyText, t} from '../i18n.js';
import {Batch, api, byRef, change, listOf, reads, record, records} from '../rpc.js';
import {heading, loadOrgs, show, treeOptions} from './common.js';
import {addMembership} from './orgs.js';

const PAGE = 50;

export async function render(main, params, me) {
  if (params[0]) return user(main, params[0], me);
  return list(main);
}

const stateText = (s) => (['0', '1', '2', '3'].includes(s) ? t('user.state.' + s) : s);

// ---- the list

// A page of users at a time from the server, found by account or name: the
// page never holds more than one page of them, however many there are.
async function list(main) {
  let page = 0;
  let q = '';
  let asked = 0;
  const body = h('div', {class: 'results'});
  const counter = h('p', {class: 'count', 'aria-live': 'polite'});
  const draw = async () => {
    const mine = ++asked;
    const data = await reads.users({q, page, size: PAGE});
    if (mine !== asked) return;  // a later search has been asked for
    const pages = Math.max(1, Math.ceil(data.total / PAGE));
    counter.textContent = q ? t('users.found', data.total) : t('users.count', data.total);
    show(body,
         table([
           [t('account'), (u) => h('a', {href: '#/users/' + encodeURIComponent(u.usrNo)}, u.account)],
           [t('person'), (u) => u.name],
           [t('user.state'), (u) => stateText(u.state)],
           [t('user.loginCount'), (u) => u.loginCount],
         ], data.rows),
         h('div', {class: 'pager'},
           h('button', {type: 'button', disabled: page === 0, onclick: () => { page--; draw(); }}, t('prev')),
           h('span', {}, t('page.of', page + 1, pages, data.total)),
           h('button', {type: 'button', disabled: page >= pages - 1, onclick: () => { page++; draw(); }}, t('next'))));
  };
  const search = h('input', {type: 'search', name: 'q', placeholder: t('search.hint'), 'aria-label': t('search.hint')});
  const find = () => {
    q = search.value.trim();
    page = 0;
    return draw();
  };
  let typing = null;
  search.addEventListener('input', () => {
    clearTimeout(typing);
    typing = setTimeout(find, 200);
  });
  const adding = h('div');
  show(main, heading(t('users.title')),
       h('form', {class: 'search', role: 'search', onsubmit: (e) => { e.preventDefault(); clearTimeout(typing); find(); }},
         search, h('button', {type: 'submit'}, t('search')),
         h('button', {type: 'button', onclick: () => addUser(adding)}, t('users.add'))),
       adding, counter, body);
  await draw();
  performance.mark('users-ready');
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
    api.get('/console/api/sessions', {usr: usrNo}),
    reads.memberships(usrNo),
    loadOrgs(),
  ]);
  const again = () => user(main, usrNo, me);

  show(main,
       h('p', {}, h('a', {href: '#/users'}, '← ' + t('user.back'))),
       heading(rec.Name + ' (' + rec.Account + ')'),
       basics(rec, usrNo, again),
       actions(rec, usrNo, me, a.result(errors), a.result(lockAt), again),
       organisations(usrNo, rec, listOf(a, orgCall, orgs), memberships, tree, again),
       groups(usrNo, rec, records(a.result(grps)), records(a.result(allGrps)), again),
       roles(usrNo, rec, listOf(a, rolCall, rols), listOf(a, allRolCall, allRols),
             new Map(listOf(a, appsCall, appsDump).map((x) => [x.App_No, x.Name])), again),
       security(usrNo, rec, listOf(a, usaCall, usa), records(a.answer(usi).result), again),
       extended(usrNo, rec, records(a.answer(uaa).result), listOf(a, uaiCall, uai), again),
       consoleSessions(usrNo, sessions, again),
       section(t('user.logins'), table([
         [t('login.time'), (l) => l.time || ''],
         [t('login.address'), (l) => l.address || ''],
         [t('login.valid'), (l) => (l.valid ? t('yes') : t('no'))],
       ], logins)));
}

// The user's open console sessions and "sign out everywhere".
function consoleSessions(usrNo, sessions, again) {
  const msg = note();
  const end = h('button', {type: 'button', disabled: sessions.length === 0, onclick: async () => {
    const r = await api.post('/console/api/sessions/end', {usr: usrNo});
    if (r.status !== 200) return msg.show(t('failed') + (r.data?.message || r.status));
    msg.show(t('sessions.ended', String(r.data.ended)), 'ok');
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

function actions(rec, usrNo, me, errors, lockAt, again) {
  const count = Number(errors || 0);
  const threshold = Number(lockAt || 0);
  const locked = threshold > 0 && count >= threshold;
  const status = h('p', {class: locked ? 'warning' : ''}, t('user.errors', errors || '0', lockAt || '0'),
                   locked ? ' — ' + t('user.locked') : '');
  const reset = form([{name: 'pwd', label: t('user.newPwd'), type: 'password'}], t('user.resetPwd'), async (v, msg) => {
    if (!v.pwd) return msg.show(t('password.empty'));
    await change('重置密码 ' + rec.Account, msg, (b) => {
      b.change(b.create('TivelMgt.UmMgt'), 'changePwd', usrNo, v.pwd);
    });
  });
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

// The security attributes in force for the user (global and its own
// definitions) with its values; a value is replaced whole in one change.
function security(usrNo, rec, definitions, values, again) {
  const value = new Map(values.map((v) => [v.Usa_No, v.Usi_Value]));
  const secret = new Set(['PwdTwo', 'LdapPwd']);
  const msg = note();
  const rows = definitions.map((d) => {
    // Secrets never reach the page: the second factor is enrolled here, its
    // secret shown once; a directory password is not kept at all.
    if (secret.has(d.Name)) return {d, cells: d.Name === 'PwdTwo' ? [enrolButton(usrNo, rec, msg)] : []};
    const input = h('input', {type: secret.has(d.Name) ? 'password' : 'text', name: 'usa' + d.Usa_No,
                              'aria-label': d.Name, value: value.get(d.Usa_No) ?? ''});
    const save = h('button', {type: 'button', onclick: async () => {
      const done = await change('设置安全属性 ' + rec.Account + ' ' + d.Name, msg, (b) => {
        const um = b.create('TivelMgt.UmMgt');
        if (value.has(d.Usa_No)) b.change(um, 'delUsi', d.Usa_No, usrNo);
        b.change(um, 'addUsi', b.record('cUmUsrSecInst', {Usa_No: d.Usa_No, Usr_No: usrNo, Usi_Value: input.value,
                                                          IsAvail: 1}));
      });
      if (done) await again();
    }}, t('save'));
    const clearValue = value.has(d.Usa_No) ? h('button', {type: 'button', onclick: async () => {
      const done = await change('清除安全属性 ' + rec.Account + ' ' + d.Name, msg, (b) => {
        b.change(b.create('TivelMgt.UmMgt'), 'delUsi', d.Usa_No, usrNo);
      });
      if (done) await again();
    }}, t('sec.clear')) : null;
    return {d, cells: [input, save, clearValue]};
  });
  return section(t('user.security'), table([
    [t('key'), (r) => r.d.Usa_No],
    [t('name'), (r) => r.d.Name],
    [t('sec.meaning'), (r) => policyText(r.d.Name) || r.d.Disc],
    [t('sec.default'), (r) => (secret.has(r.d.Name) ? '' : r.d.Default_Value)],
    [t('sec.value'), (r) => h('span', {class: 'inline'}, r.cells)],
  ], rows), msg);
}

// Gives the user a new second-factor secret and shows it, with its QR
// code, this once.
function enrolButton(usrNo, rec, msg) {
  const shown = h('div', {class: 'enrolment'});
  const button = confirmButton(t('totp.enroll'), t('totp.confirm'), async () => {
    const r = await api.post('/console/api/totp/enroll', {usr: usrNo});
    if (r.status !== 200) return msg.show(t('failed') + (r.data?.message || r.status));
    clear(shown).append(
      h('img', {src: 'data:image/svg+xml,' + encodeURIComponent(r.data.qr), alt: t('totp.qr'), width: 200, height: 200}),
      h('p', {}, t('totp.secret'), h('code', {}, r.data.secret)),
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

