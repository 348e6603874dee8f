// Roles of an application and their members.
import {confirmButton, form, h, note, section} from '../dom.js';
import {t} from '../i18n.js';
import {Batch, byRef, change, listOf} from '../rpc.js';
import {heading, show, split} from './common.js';
import {members} from './members.js';

export async function render(main, params) {
  const b = new Batch();
  const app = b.create('TivelMgt.AppMgt');
  const appsCall = b.call(app, 'getAllApp');
  const appsDump = b.dump(appsCall);
  const rolesCall = b.call(app, 'getRolOfApp', '');
  const rolesDump = b.dump(rolesCall);
  const a = await b.run();
  const apps = listOf(a, appsCall, appsDump);
  const roles = listOf(a, rolesCall, rolesDump);
  const selected = roles.find((r) => r.Rol_No === params[0]);
  const refresh = async (key) => {
    history.replaceState(null, '', key ? '#/roles/' + encodeURIComponent(key) : '#/roles');
    await render(main, key ? [key] : []);
  };
  const appName = new Map(apps.map((x) => [x.App_No, x.Name]));
  const detail = h('div');
  const side = [
    h('button', {type: 'button', onclick: () => show(detail, addForm(apps, refresh))}, t('roles.add')),
    apps.map((x) => h('div', {class: 'group'}, h('h3', {}, x.Name),
      h('ul', {class: 'list'}, roles.filter((r) => r.App_No === x.App_No).map((r) => h('li', {}, h('button', {
        type: 'button', class: r === selected ? 'node selected' : 'node', 'aria-current': r === selected ? 'true' : null,
        onclick: () => refresh(r.Rol_No)}, r.Name)))))),
  ];
  show(main, heading(t('roles.title')), split(side, detail));
  if (selected) await role(detail, selected, appName.get(selected.App_No) || selected.App_No, refresh);
}

function addForm(apps, refresh) {
  return section(t('roles.add'), form([
    {name: 'App_No', label: t('roles.app'), type: 'select', options: apps.map((x) => [x.App_No, x.Name])},
    {name: 'Name', label: t('name')},
    {name: 'Disc', label: t('disc')},
  ], t('add'), async (v, msg) => {
    let key;
    const done = await change('添加角色 ' + v.Name, msg, (b) => {
      key = b.change(b.create('TivelMgt.AppMgt'), 'addRol', b.record('cAppRol', v), byRef(''));
    });
    if (done) await refresh(done.refs(key)['1']);
  }));
}

async function role(detail, r, appName, refresh) {
  const key = r.Rol_No;
  const b = new Batch();
  const call = b.call(b.create('TivelMgt.AppMgt'), 'getUsrOfRol', key);
  const people = b.dump(call);
  const a = await b.run();
  const edit = form([
    {name: 'Name', label: t('name'), value: r.Name},
    {name: 'Disc', label: t('disc'), value: r.Disc},
  ], t('save'), async (v, msg) => {
    const done = await change('修改角色 ' + v.Name, msg, (b) => {
      const app = b.create('TivelMgt.AppMgt');
      b.change(app, 'updateRol', b.record('cAppRol', {Rol_No: key, App_No: r.App_No, ...v}), key);
    });
    if (done) await refresh(key);
  });
  const delMsg = note();
  const remove = confirmButton(t('delete'), t('confirm.delete'), async () => {
    // The role and its memberships go together.
    const done = await change('删除角色 ' + r.Name, delMsg, (b) => {
      const app = b.create('TivelMgt.AppMgt');
      b.change(app, 'delRol2Usr', key, '');
      b.change(app, 'delRol', key);
    });
    if (done) await refresh('');
  });
  show(detail, h('h2', {}, r.Name + ' — ' + appName),
       section(t('edit'), edit),
       members(listOf(a, call, people), r.Name, {
         remove: (b, usr) => b.change(b.create('TivelMgt.AppMgt'), 'delRol2Usr', key, usr),
         add: (b, usr) => b.change(b.create('TivelMgt.AppMgt'), 'addRol2Usr', b.record('cAppRol2Usr', {Rol_No: key, Usr_No: usr})),
       }, () => refresh(key)),
       section(t('delete'), remove, delMsg));
}
