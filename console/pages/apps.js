// Applications with their resource trees and rights, and the
// authorizations on a resource as a grid of its rights for each subject
// (organisation, group, role or user), written through AppMgt.setAuthOfUsr.
import {clear, confirmButton, field, form, h, note, section, table} from '../dom.js';
import {t} from '../i18n.js';
import {Batch, byRef, change, listOf} from '../rpc.js';
import {heading, loadOrgs, show, split, treeOptions, treeView, userNoOf, within} from './common.js';

// Subject types of authorizations: O(rganisation), G(roup), R(ole), U(ser)
// in the order of the letters of OGRU; "3", a user, is the components' own.
const TYPES = ['0', '1', '2', '3'];

export async function render(main, params) {
  const b = new Batch();
  const app = b.create('TivelMgt.AppMgt');
  const call = b.call(app, 'getAllApp');
  const dump = b.dump(call);
  const apps = listOf(await b.run(), call, dump);
  const selected = apps.find((x) => x.App_No === params[0]);
  const refresh = async (appNo, resNo) => {
    const path = [appNo, resNo].filter(Boolean).map(encodeURIComponent).join('/');
    history.replaceState(null, '', '#/apps' + (path ? '/' + path : ''));
    await render(main, [appNo, resNo].filter(Boolean));
  };
  const detail = h('div');
  const side = [
    h('button', {type: 'button', onclick: () => show(detail, addApp(refresh))}, t('apps.add')),
    h('ul', {class: 'list'}, apps.map((x) => h('li', {}, h('button', {
      type: 'button', class: x === selected ? 'node selected' : 'node', 'aria-current': x === selected ? 'true' : null,
      onclick: () => refresh(x.App_No)}, x.Name)))),
  ];
  show(main, heading(t('apps.title')), split(side, detail));
  if (selected) await application(detail, selected, params[1], refresh);
}

function addApp(refresh) {
  return section(t('apps.add'), form([
    {name: 'Name', label: t('name')},
    {name: 'Disc', label: t('disc')},
  ], t('add'), async (v, msg) => {
    let key;
    const done = await change('添加应用 ' + v.Name, msg, (b) => {
      key = b.change(b.create('TivelMgt.AppMgt'), 'addApp', b.record('cApp', v), byRef(''));
    });
    if (done) await refresh(done.refs(key)['1']);
  }));
}

async function application(detail, x, resNo, refresh) {
  const appNo = x.App_No;
  const b = new Batch();
  const app = b.create('TivelMgt.AppMgt');
  const resCall = b.call(app, 'getResOfApp', appNo);
  const resDump = b.dump(resCall);
  const rolCall = b.call(app, 'getRolOfApp', appNo);
  const rolDump = b.dump(rolCall);
  const a = await b.run();
  const resources = listOf(a, resCall, resDump);
  const roles = listOf(a, rolCall, rolDump);

  // The tree of resources, by their parents' keys ("0" at the top).
  const nodes = new Map(resources.map((r) => [r.Res_no, {rec: r, key: r.Res_no, children: [], parent: null}]));
  const roots = [];
  for (const n of nodes.values()) {
    const p = nodes.get(n.rec.Top_Res_No);
    if (p && p !== n) {
      n.parent = p;
      p.children.push(n);
    } else {
      roots.push(n);
    }
  }
  // A parent loop would hide its members: they show at the top.
  for (const n of nodes.values()) {
    for (let p = n.parent, steps = 0; p; p = p.parent) {
      if (++steps > nodes.size) {
        n.parent.children.splice(n.parent.children.indexOf(n), 1);
        n.parent = null;
        roots.push(n);
        break;
      }
    }
  }

  const edit = form([
    {name: 'Name', label: t('name'), value: x.Name},
    {name: 'Disc', label: t('disc'), value: x.Disc},
  ], t('save'), async (v, msg) => {
    const done = await change('修改应用 ' + v.Name, msg, (b) => {
      b.change(b.create('TivelMgt.AppMgt'), 'updateApp', b.record('cApp', {App_No: appNo, ...v}), appNo);
    });
    if (done) await refresh(appNo, resNo);
  });
  const delMsg = note();
  const remove = confirmButton(t('delete'), t('confirm.delete'), async () => {
    if (resources.length || roles.length) return delMsg.show(t('apps.notEmpty'));
    const done = await change('删除应用 ' + x.Name, delMsg, (b) => b.change(b.create('TivelMgt.AppMgt'), 'delApp', appNo));
    if (done) await refresh('');
  });

  const resDetail = h('div');
  const selected = nodes.get(resNo);
  show(detail, h('h2', {}, x.Name),
       section(t('edit'), edit, h('div', {class: 'buttons'}, remove), delMsg),
       section(t('res.title'),
               h('button', {type: 'button', onclick: () => show(resDetail, addResource(appNo, '0', refresh))}, t('res.add')),
               treeView(roots, (r) => r.Name, resNo, (n) => refresh(appNo, n.key), t('res.title')),
               resDetail));
  if (selected) await resource(resDetail, appNo, selected, roots, nodes, roles, refresh);
}

function resourceFields(r = {}) {
  return [
    {name: 'Name', label: t('name'), value: r.Name},
    {name: 'Disc', label: t('disc'), value: r.Disc},
    {name: 'IsRes', label: t('res.isRes'), type: 'checkbox', value: r.IsRes === '1'},
  ];
}

function addResource(appNo, parent, refresh) {
  return section(t('res.add'), form(resourceFields(), t('add'), async (v, msg) => {
    let key;
    const done = await change('添加资源 ' + v.Name, msg, (b) => {
      key = b.change(b.create('TivelMgt.AppMgt'), 'addRes', b.record('cAppRes', {
        Name: v.Name, Disc: v.Disc, IsRes: v.IsRes ? '1' : '0', App_No: appNo, Top_Res_No: parent}), byRef(''));
    });
    if (done) await refresh(appNo, done.refs(key)['1']);
  }));
}

async function resource(el, appNo, node, roots, nodes, roles, refresh) {
  const r = node.rec;
  const resNo = node.key;
  const b = new Batch();
  const app = b.create('TivelMgt.AppMgt');
  const rgtCall = b.call(app, 'getRgtOfRes', resNo);
  const rgtDump = b.dump(rgtCall);
  const authCall = b.call(app, 'getAuthOfRes', resNo);
  const authDump = b.dump(authCall);
  const a = await b.run();
  const rights = listOf(a, rgtCall, rgtDump).sort((p, q) => Number(p.Bit_Nod) - Number(q.Bit_Nod));
  const auths = listOf(a, authCall, authDump);

  const parents = [['0', t('top')], ...treeOptions(roots, (x) => x.Name).filter(([k]) => !within(nodes.get(k), node))];
  const edit = form([...resourceFields(r),
    {name: 'Top_Res_No', label: t('res.parent'), type: 'select', options: parents, value: node.parent ? node.parent.key : '0'},
  ], t('save'), async (v, msg) => {
    const done = await change('修改资源 ' + v.Name, msg, (b) => {
      b.change(b.create('TivelMgt.AppMgt'), 'updateRes', b.record('cAppRes', {
        Res_no: resNo, App_No: appNo, Name: v.Name, Disc: v.Disc, IsRes: v.IsRes ? '1' : '0', Top_Res_No: v.Top_Res_No,
      }), resNo);
    });
    if (done) await refresh(appNo, resNo);
  });
  const delMsg = note();
  const remove = confirmButton(t('delete'), t('confirm.delete'), async () => {
    if (node.children.length) return delMsg.show(t('res.notEmpty'));
    // The resource with its rights and authorizations.
    const done = await change('删除资源 ' + r.Name, delMsg, (b) => {
      const app = b.create('TivelMgt.AppMgt');
      b.change(app, 'delAuthOfRes', resNo);
      b.change(app, 'delRgtOfRes', resNo);
      b.change(app, 'delRes', resNo);
    });
    if (done) await refresh(appNo, node.parent ? node.parent.key : '');
  });

  const again = () => refresh(appNo, resNo);
  show(el, h('h3', {}, r.Name),
       section(t('edit'), edit, h('div', {class: 'buttons'}, remove), delMsg),
       rightsSection(resNo, rights, again),
       await grid(resNo, r.Name, rights, auths, roles, again),
       addResource(appNo, resNo, refresh));
}

function rightsSection(resNo, rights, again) {
  const msg = note();
  const rows = table([
    [t('rgt.bit'), (g) => g.Bit_Nod],
    [t('name'), (g) => g.input.name],
    [t('disc'), (g) => g.input.disc],
    ['', (g) => h('span', {class: 'inline'},
      h('button', {type: 'button', onclick: async () => {
        const done = await change('修改权限 ' + g.Name, msg, (b) => {
          b.change(b.create('TivelMgt.AppMgt'), 'updateRgt',
                   b.record('cAppRgt', {Name: g.input.name.value, Disc: g.input.disc.value}), resNo, g.Bit_Nod);
        });
        if (done) await again();
      }}, t('save')),
      h('button', {type: 'button', class: 'danger', onclick: async () => {
        const done = await change('删除权限 ' + g.Name, msg, (b) => {
          b.change(b.create('TivelMgt.AppMgt'), 'delRgt', resNo, Number(g.Bit_Nod));
        });
        if (done) await again();
      }}, t('delete')))],
  ], rights.map((g) => ({...g, input: {
    name: h('input', {type: 'text', 'aria-label': t('name') + ' ' + g.Bit_Nod, value: g.Name}),
    disc: h('input', {type: 'text', 'aria-label': t('disc') + ' ' + g.Bit_Nod, value: g.Disc}),
  }})));
  const next = rights.reduce((m, g) => Math.max(m, Number(g.Bit_Nod) || 0), 0) + 1;
  const f = form([
    {name: 'Bit_Nod', label: t('rgt.bit'), value: String(next)},
    {name: 'Name', label: t('name')},
    {name: 'Disc', label: t('disc')},
  ], t('rgt.add'), async (v, fmsg) => {
    const done = await change('添加权限 ' + v.Name, fmsg, (b) => {
      b.change(b.create('TivelMgt.AppMgt'), 'addRgt', b.record('cAppRgt', {Res_no: resNo, ...v}), byRef(''));
    });
    if (done) await again();
  });
  return section(t('rgt.title'), rows, msg, f);
}

// The grid: a row per subject with an authorization on the resource, a
// column per right; a row is saved as the subject's whole authorization
// string, characters of positions without a right kept as they were.
async function grid(resNo, resName, rights, auths, roles, again) {
  const msg = note();
  if (!rights.length) return section(t('auth.title'), h('p', {}, t('auth.noRights')));
  const b = new Batch();
  const um = b.create('TivelMgt.UmMgt');
  const app = b.create('TivelMgt.AppMgt');
  const names = auths.map((x) => {
    const type = String(x.OGRU_Type);
    if (type === '0') return b.call(um, 'getOrgName', x.OGRU_No);
    if (type === '1') return b.call(um, 'getGrpName', x.OGRU_No);
    if (type === '2') return b.call(app, 'getRolName', x.OGRU_No);
    if (type === '3') return b.call(um, 'getUsrAccount', x.OGRU_No);
    return null;
  });
  const a = auths.length ? await b.run() : null;
  const nameOf = (i) => {
    const x = names[i] && a.answer(names[i]);
    return (x && !x.error && x.result) || auths[i].OGRU_No;
  };
  const write = async (type, no, label, auth) => {
    const done = await change('授权 ' + label + ' @ ' + resName + ' = ' + auth, msg, (b) => {
      b.change(b.create('TivelMgt.AppMgt'), 'setAuthOfUsr', resNo, type, no, auth);
    });
    if (done) await again();
  };
  const rows = auths.map((x, i) => {
    const label = t('auth.type.' + x.OGRU_Type) + ' ' + nameOf(i);
    const boxes = rights.map((g) => {
      const pos = Number(g.Bit_Nod);
      return h('input', {type: 'checkbox', 'aria-label': label + ' · ' + g.Name, checked: (x.Res_Auth || '')[pos - 1] === '1'});
    });
    const save = h('button', {type: 'button', onclick: () => {
      const chars = (x.Res_Auth || '').split('');
      rights.forEach((g, k) => {
        const pos = Number(g.Bit_Nod);
        while (chars.length < pos) chars.push('0');
        chars[pos - 1] = boxes[k].checked ? '1' : '0';
      });
      write(x.OGRU_Type, x.OGRU_No, label, chars.join(''));
    }}, t('save'));
    return {label, boxes, save};
  });
  const grid = table([
    [t('auth.subject'), (r) => r.label],
    ...rights.map((g, k) => [g.Bit_Nod + ' ' + g.Name, (r) => r.boxes[k]]),
    ['', (r) => r.save],
  ], rows);
  return section(t('auth.title'), grid, msg, await subjectForm(rights, roles, write));
}

// Adding a subject to the grid: its type, then the subject itself.
async function subjectForm(rights, roles, write) {
  const tree = await loadOrgs();
  const b = new Batch();
  const groups = b.dump(b.call(b.create('TivelMgt.UmMgt'), 'getAllGrp'));
  const grps = (await b.run()).answer(groups).result || [];
  const choices = {
    '0': treeOptions(tree.roots, (r) => r.Name),
    '1': grps.map((e) => [e.item.Grp_no, e.item.Name]),
    '2': roles.map((r) => [r.Rol_No, r.Name]),
  };
  const msg = note();
  const type = field({name: 'type', label: t('auth.type'), type: 'select', options: TYPES.map((k) => [k, t('auth.type.' + k)]), value: '3'});
  const holder = h('div');
  let subject;
  const chooser = () => {
    const k = type.control.value;
    subject = k === '3' ? field({name: 'subject', label: t('account')})
      : field({name: 'subject', label: t('auth.subject'), type: 'select', options: choices[k]});
    clear(holder).append(subject);
  };
  type.control.addEventListener('change', chooser);
  chooser();
  const boxes = rights.map((g) => field({name: 'bit' + g.Bit_Nod, label: g.Bit_Nod + ' ' + g.Name, type: 'checkbox'}));
  const f = h('form', {class: 'form', novalidate: true, onsubmit: async (e) => {
    e.preventDefault();
    msg.clear();
    const k = type.control.value;
    let no = subject.control.value;
    let label = subject.control.selectedOptions ? subject.control.selectedOptions[0]?.textContent : no;
    if (k === '3') {
      label = no;
      no = await userNoOf(no);
      if (!no) return msg.show(t('noAccount', label));
    }
    if (!no) return;
    const chars = [];
    rights.forEach((g, i) => {
      const pos = Number(g.Bit_Nod);
      while (chars.length < pos) chars.push('0');
      chars[pos - 1] = boxes[i].control.checked ? '1' : '0';
    });
    await write(k, no, t('auth.type.' + k) + ' ' + label, chars.join(''));
  }}, type, holder, boxes, h('div', {class: 'buttons'}, h('button', {type: 'submit'}, t('auth.add'))), msg);
  return f;
}
