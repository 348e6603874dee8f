// Groups and their members.
import {confirmButton, form, h, note, section} from '../dom.js';
import {t} from '../i18n.js';
import {Batch, byRef, change, records} from '../rpc.js';
import {heading, show, split} from './common.js';
import {members} from './members.js';

// Groups 1, 2 and 3 are the system's own: administrators and registered users.
const FIXED = new Set(['1', '2', '3']);

export async function render(main, params) {
  const b = new Batch();
  const d = b.dump(b.call(b.create('TivelMgt.UmMgt'), 'getAllGrp'));
  const all = records((await b.run()).result(d));
  const selected = all.find((g) => g.Grp_no === params[0]);
  const refresh = async (key) => {
    history.replaceState(null, '', key ? '#/groups/' + encodeURIComponent(key) : '#/groups');
    await render(main, key ? [key] : []);
  };
  const detail = h('div');
  const side = [
    h('button', {type: 'button', onclick: () => show(detail, addForm(refresh))}, t('groups.add')),
    h('ul', {class: 'list'}, all.map((g) => h('li', {}, h('button', {
      type: 'button', class: g === selected ? 'node selected' : 'node', 'aria-current': g === selected ? 'true' : null,
      onclick: () => refresh(g.Grp_no)}, g.Name + ' (' + g.Grp_no + ')')))),
  ];
  show(main, heading(t('groups.title')), split(side, detail));
  if (selected) await group(detail, selected, refresh);
}

const fields = (g = {}) => [
  {name: 'Name', label: t('name'), value: g.Name},
  {name: 'Disc', label: t('disc'), value: g.Disc},
];

function addForm(refresh) {
  return section(t('groups.add'), form(fields(), t('add'), async (v, msg) => {
    let key;
    const done = await change('添加组 ' + v.Name, msg, (b) => {
      key = b.change(b.create('TivelMgt.UmMgt'), 'addGrp', b.record('cUmGrp', v), byRef(''));
    });
    if (done) await refresh(done.refs(key)['1']);
  }));
}

async function group(detail, g, refresh) {
  const key = g.Grp_no;
  const b = new Batch();
  const people = b.dump(b.call(b.create('TivelMgt.UmMgt'), 'getUsrOfGrp', key));
  const a = await b.run();
  const edit = form(fields(g), t('save'), async (v, msg) => {
    const done = await change('修改组 ' + v.Name, msg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      const rec = b.call(um, 'getGrp', key);
      for (const [k, value] of Object.entries(v)) b.put(rec, k, value);
      b.change(um, 'updateGrp', rec, key);
    });
    if (done) await refresh(key);
  });
  const delMsg = note();
  const remove = confirmButton(t('delete'), t('confirm.delete'), async () => {
    if (FIXED.has(key)) return delMsg.show(t('groups.fixed'));
    // The group and its memberships go together.
    const done = await change('删除组 ' + g.Name, delMsg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      b.change(um, 'delGrp2Usr', key, '');
      b.change(um, 'delGrp', key);
    });
    if (done) await refresh('');
  });
  show(detail, h('h2', {}, g.Name),
       section(t('edit'), edit),
       members(records(a.answer(people).result), g.Name, {
         remove: (b, usr) => b.change(b.create('TivelMgt.UmMgt'), 'delGrp2Usr', key, usr),
         add: (b, usr) => b.change(b.create('TivelMgt.UmMgt'), 'addGrp2Usr', b.record('cUmGrp2usr', {Grp_no: key, Usr_No: usr})),
       }, () => refresh(key)),
       section(t('delete'), remove, delMsg));
}
