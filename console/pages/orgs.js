// The organisation tree: browse, add, edit, move and delete departments,
// and their members.
import {confirmButton, form, h, note, section, table} from '../dom.js';
import {t} from '../i18n.js';
import {Batch, byRef, change, records} from '../rpc.js';
import {heading, loadOrgs, show, split, treeOptions, treeView, within} from './common.js';

export async function render(main, params) {
  const tree = await loadOrgs();
  const selected = tree.nodes.get(params[0]) || null;
  const detail = h('div');
  const refresh = async (key) => {
    history.replaceState(null, '', key ? '#/orgs/' + encodeURIComponent(key) : '#/orgs');
    await render(main, key ? [key] : []);
  };
  const addTop = h('button', {type: 'button', onclick: () => show(detail, addForm('0', refresh))}, t('org.addTop'));
  const side = [addTop, treeView(tree.roots, (r) => r.Name, selected?.key,
                                 (n) => refresh(n.key), t('org.title'))];
  show(main, heading(t('org.title')), split(side, detail));
  if (selected) await showDepartment(detail, selected, tree, refresh);
  else show(detail, h('p', {}, t('org.choose')));
}

function orgFields(rec = {}) {
  return [
    {name: 'Name', label: t('name'), value: rec.Name},
    {name: 'Disc', label: t('disc'), value: rec.Disc},
    {name: 'Priority', label: t('priority'), value: rec.Priority},
  ];
}

// A form that adds a department below `parent` ("0": at the top).
function addForm(parent, refresh) {
  const f = form(orgFields(), t('add'), async (v, msg) => {
    let key = '';
    const done = await change('添加部门 ' + v.Name, msg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      key = b.change(um, 'addOrg', b.record('cUmOrg', {...v, Top_Org_No: parent}), byRef(''));
    });
    if (done) await refresh(done.refs(key)['1']);
  });
  return section(parent === '0' ? t('org.addTop') : t('org.addChild'), f);
}

async function showDepartment(detail, node, tree, refresh) {
  const key = node.key;
  const b = new Batch();
  const um = b.create('TivelMgt.UmMgt');
  const members = b.dump(b.call(um, 'getUsrOfOrg', key));
  const a = await b.run();
  const people = records(a.result(members));

  const edit = form(orgFields(node.rec), t('save'), async (v, msg) => {
    const done = await change('修改部门 ' + v.Name, msg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      const rec = b.call(um, 'getOrg', key);
      for (const [k, value] of Object.entries(v)) b.put(rec, k, value);
      b.change(um, 'updateOrg', rec, key);
    });
    if (done) await refresh(key);
  });

  const targets = [['0', t('top')], ...treeOptions(tree.roots, (r) => r.Name)
    .filter(([k]) => !within(tree.nodes.get(k), node))];
  const move = form([{name: 'parent', label: t('org.move'), type: 'select', options: targets,
                      value: node.parent ? node.parent.key : '0'}], t('org.moveDo'), async (v, msg) => {
    const done = await change('移动部门 ' + node.rec.Name, msg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      const rec = b.call(um, 'getOrg', key);
      b.put(rec, 'Top_Org_No', v.parent);
      b.change(um, 'updateOrg', rec, key);
    });
    if (done) await refresh(key);
  });

  const delMsg = note();
  const remove = confirmButton(t('delete'), t('confirm.delete'), async () => {
    if (node.children.length || people.length) return delMsg.show(t('org.notEmpty'));
    const done = await change('删除部门 ' + node.rec.Name, delMsg, (b) => {
      b.change(b.create('TivelMgt.UmMgt'), 'delOrg', key);
    });
    if (done) await refresh(node.parent ? node.parent.key : '');
  });

  const memberMsg = note();
  const memberTable = table([
    [t('account'), (u) => h('a', {href: '#/users/' + encodeURIComponent(u.Usr_No)}, u.Account)],
    [t('person'), (u) => u.Name],
    ['', (u) => h('button', {type: 'button', onclick: async () => {
      const done = await change('移出部门成员 ' + u.Account, memberMsg, (b) => {
        b.change(b.create('TivelMgt.UmMgt'), 'delOrg2Usr', key, u.Usr_No);
      });
      if (done) await refresh(key);
    }}, t('remove'))],
  ], people);
  const addMember = form([
    {name: 'account', label: t('org.addMember')},
    {name: 'main', label: t('asMain'), type: 'checkbox'},
  ], t('add'), async (v, msg) => {
    const done = await addMembership(key, v.account, v.main, msg, node.rec.Name);
    if (done) await refresh(key);
  });

  show(detail,
       h('h2', {}, node.rec.Name),
       section(t('edit'), edit),
       section(t('org.move'), move),
       section(t('org.members'), memberTable, addMember, memberMsg),
       addForm(key, refresh),
       section(t('delete'), remove, delMsg));
}

// Makes the account a member of the department, in one change.
export async function addMembership(orgNo, account, main, msg, orgName) {
  const check = new Batch();
  const no = check.get(check.call(check.create('TivelMgt.UmMgt'), 'getUsrByAccount', account), 'Usr_No');
  if ((await check.run()).answer(no).error) {
    msg.show(t('noAccount', account));
    return false;
  }
  return change('添加部门成员 ' + account + ' → ' + orgName, msg, (b) => {
    const um = b.create('TivelMgt.UmMgt');
    const usr = b.get(b.call(um, 'getUsrByAccount', account), 'Usr_No');
    b.change(um, 'addOrg2Usr', b.record('cUmOrg2usr', {Org_No: orgNo, Usr_No: usr, IsMain: main ? '0' : '1'}));
  });
}
