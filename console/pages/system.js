// The portal's own data: the modules tree, the system attributes, the help
// topics with their references, and the error catalogue.
import {confirmButton, form, h, note, section, table} from '../dom.js';
import {t} from '../i18n.js';
import {Batch, byRef, change, listOf, reads, record} from '../rpc.js';
import {heading, loadTree, show, split, treeOptions, treeView, within} from './common.js';

const tabs = [['modules', 'sys.modules'], ['attributes', 'sys.attrs'], ['help', 'sys.help'], ['errors', 'sys.errors']];

export async function render(main, params) {
  const tab = tabs.find(([k]) => k === params[0]) || tabs[0];
  const go = async (...path) => {
    history.replaceState(null, '', '#/system/' + path.filter(Boolean).map(encodeURIComponent).join('/'));
    await render(main, path.filter(Boolean));
  };
  const body = h('div');
  show(main, heading(t('sys.title')),
       h('nav', {class: 'tabs', 'aria-label': t('sys.title')}, tabs.map(([k, word]) =>
         h('a', {href: '#/system/' + k, 'aria-current': k === tab[0] ? 'page' : null}, t(word)))),
       body);
  const pages = {modules, attributes, help, errors};
  await pages[tab[0]](body, params[1], (key) => go(tab[0], key));
}

// A tree page (modules, help topics): list left, the chosen entry right.
async function treePage(body, {progid, sons, keyOf, label, fields, add, update, remove, word}, key, go, more) {
  const tree = await loadTree(progid, keyOf, (b, obj, k) => {
    const c = b.call(obj, sons, k);
    return [c, b.dump(c)];
  });
  const node = tree.nodes.get(key);
  const detail = h('div');
  const addForm = (parent) => section(t(word.add), form(fields({}), t('add'), async (v, msg) => {
    let id;
    const done = await change(word.log + ' ' + label(v), msg, (b) => { id = add(b, v, parent); });
    if (done) await go(done.refs(id)['1']);
  }));
  show(body, split([h('button', {type: 'button', onclick: () => show(detail, addForm('0'))}, t(word.add)),
                    treeView(tree.roots, label, key, (n) => go(n.key), t(word.title || 'nav.system'))], detail));
  if (!node) return;
  const parents = [['0', t('top')], ...treeOptions(tree.roots, label).filter(([k]) => !within(tree.nodes.get(k), node))];
  const edit = form([...fields(node.rec), {name: 'parent', label: t('mod.parent'), type: 'select', options: parents,
                                           value: node.parent ? node.parent.key : '0'}],
  t('save'), async (v, msg) => {
    if (await change(word.logEdit + ' ' + label(v), msg, (b) => update(b, node.key, v))) await go(node.key);
  });
  const delMsg = note();
  const del = confirmButton(t('delete'), t('confirm.delete'), async () => {
    if (node.children.length) return delMsg.show(t('notEmpty'));
    if (await change(word.logDelete + ' ' + label(node.rec), delMsg, (b) => remove(b, node.key))) {
      await go(node.parent ? node.parent.key : '');
    }
  });
  show(detail, h('h2', {}, label(node.rec)), section(t('edit'), edit, h('div', {class: 'buttons'}, del), delMsg),
       more ? await more(node, tree, go) : null, addForm(node.key));
}

// ---- modules

const moduleFields = (m) => [
  {name: 'Name', label: t('name'), value: m.Name},
  {name: 'En_Name', label: t('mod.enName'), value: m.En_Name},
  {name: 'Logo', label: t('mod.logo'), value: m.Logo},
  {name: 'Priority', label: t('priority'), value: m.Priority},
  {name: 'IsInstall', label: t('mod.install'), type: 'checkbox', value: m.IsInstall === undefined || m.IsInstall === '1'},
  {name: 'IsVisibility', label: t('mod.visible'), type: 'checkbox', value: m.IsVisibility === undefined || m.IsVisibility === '1'},
  {name: 'Url_Link', label: t('mod.url'), value: m.Url_Link},
  {name: 'Param', label: t('mod.param'), value: m.Param},
  {name: 'Disc', label: t('disc'), value: m.Disc},
];

function moduleRecord(b, v, key, parent) {
  return b.record('cSysModule', {Mod_No: key, Top_Mod_No: parent, Name: v.Name, En_Name: v.En_Name, Logo: v.Logo,
                                 Priority: v.Priority, IsInstall: v.IsInstall ? 1 : 0, IsVisibility: v.IsVisibility ? 1 : 0,
                                 Url_Link: v.Url_Link, Param: v.Param, Disc: v.Disc});
}

function modules(body, key, go) {
  return treePage(body, {
    progid: 'TivelMgt.SysMgt', sons: 'getSonModOfMod', keyOf: (r) => r.Mod_No, label: (r) => r.Name, fields: moduleFields,
    word: {add: 'mod.add', log: '添加模块', logEdit: '修改模块', logDelete: '删除模块'},
    add: (b, v, parent) => b.change(b.create('TivelMgt.SysMgt'), 'addMod', moduleRecord(b, v, undefined, parent), byRef('')),
    update: (b, k, v) => b.change(b.create('TivelMgt.SysMgt'), 'updateMod', moduleRecord(b, v, k, v.parent), k),
    remove: (b, k) => b.change(b.create('TivelMgt.SysMgt'), 'delMod', k),
  }, key, go);
}

// ---- help topics

const helpFields = (hl) => [
  {name: 'Hlp_Topic', label: t('hlp.topic'), value: hl.Hlp_Topic},
  {name: 'Mod_No', label: t('hlp.module'), value: hl.Mod_No},
  {name: 'Mod_Name', label: t('hlp.moduleName'), value: hl.Mod_Name},
  {name: 'Hlp_Context', label: t('hlp.context'), type: 'textarea', value: hl.Hlp_Context},
  {name: 'Hlp_Example', label: t('hlp.example'), type: 'textarea', value: hl.Hlp_Example},
];

const now = () => new Date(Date.now() - new Date().getTimezoneOffset() * 60000).toISOString().slice(0, 19).replace('T', ' ');

function helpRecord(b, v, key, parent) {
  return b.record('cSysHlp', {Hlp_No: key, Top_Hlp_No: parent, Hlp_Topic: v.Hlp_Topic, Mod_No: v.Mod_No,
                              Mod_Name: v.Mod_Name, Hlp_Context: v.Hlp_Context, Hlp_Example: v.Hlp_Example, WdateTime: now()});
}

function help(body, key, go) {
  return treePage(body, {
    progid: 'TivelMgt.SysMgt', sons: 'getSonHlpOfHlp', keyOf: (r) => r.Hlp_No, label: (r) => r.Hlp_Topic, fields: helpFields,
    word: {add: 'hlp.add', log: '添加帮助主题', logEdit: '修改帮助主题', logDelete: '删除帮助主题'},
    add: (b, v, parent) => b.change(b.create('TivelMgt.SysMgt'), 'AddHlp', helpRecord(b, v, undefined, parent), byRef('')),
    update: (b, k, v) => b.change(b.create('TivelMgt.SysMgt'), 'updateHlp', helpRecord(b, v, k, v.parent), k),
    remove: (b, k) => b.change(b.create('TivelMgt.SysMgt'), 'delHlp', k),
  }, key, go, references);
}

// The topics a topic refers to, and adding one.
async function references(node, tree, go) {
  const b = new Batch();
  const call = b.call(b.create('TivelMgt.SysMgt'), 'getHlpRefofHlp', node.key);
  const dump = b.dump(call);
  const refs = listOf(await b.run(), call, dump);
  const f = form([{name: 'ref', label: t('hlp.topic'), type: 'select',
                   options: treeOptions(tree.roots, (r) => r.Hlp_Topic).filter(([k]) => k !== node.key)}],
  t('hlp.addRef'), async (v, msg) => {
    const done = await change('添加帮助参见 ' + node.rec.Hlp_Topic, msg, (b) => {
      b.change(b.create('TivelMgt.SysMgt'), 'AddHlpRef', b.record('cSysHlpRef', {Hlp_No: node.key, Hlp_No_Ref: v.ref}));
    });
    if (done) await go(node.key);
  });
  return section(t('hlp.refs'), h('ul', {}, refs.map((r) => h('li', {}, r.Hlp_Topic))), f);
}

// ---- system attributes (no component lists them: their keys come from the console's read)

async function attributes(body, key, go) {
  const keys = await reads.attributes();
  const detail = h('div');
  const fields = (x) => [
    {name: 'Name', label: t('name'), value: x.Name},
    {name: 'Attr_Type', label: t('attr.type'), type: 'number', value: x.Attr_Type ?? '0'},
    {name: 'Attr_Value', label: t('attr.value'), value: x.Attr_Value},
    {name: 'Disc', label: t('disc'), value: x.Disc},
  ];
  const addForm = section(t('attr.add'), form(fields({}), t('add'), async (v, msg) => {
    let id;
    const done = await change('添加系统属性 ' + v.Name, msg, (b) => {
      id = b.change(b.create('TivelMgt.SysMgt'), 'addSysAttr', b.record('cSysAttr', v), byRef(''));
    });
    if (done) await go(done.refs(id)['1']);
  }));
  show(body, split([h('button', {type: 'button', onclick: () => show(detail, addForm)}, t('attr.add')),
                    h('ul', {class: 'list'}, keys.map((k) => h('li', {}, h('button', {
                      type: 'button', class: k.key === key ? 'node selected' : 'node', onclick: () => go(k.key)}, k.name || k.key))))],
                   detail));
  if (!key) return;
  const b = new Batch();
  const dump = b.dump(b.call(b.create('TivelMgt.SysMgt'), 'getSysAttr', key));
  const x = record((await b.run()).answer(dump).result);
  if (!x) return;
  const edit = form(fields(x), t('save'), async (v, msg) => {
    const done = await change('修改系统属性 ' + v.Name, msg, (b) => {
      b.change(b.create('TivelMgt.SysMgt'), 'updateSysAttr', b.record('cSysAttr', {Attr_No: key, ...v}), key);
    });
    if (done) await go(key);
  });
  const delMsg = note();
  const del = confirmButton(t('delete'), t('confirm.delete'), async () => {
    if (await change('删除系统属性 ' + x.Name, delMsg, (b) => b.change(b.create('TivelMgt.SysMgt'), 'delSysAttr', key))) await go('');
  });
  show(detail, h('h2', {}, x.Name), section(t('edit'), edit, h('div', {class: 'buttons'}, del), delMsg));
}

// ---- the error catalogue

async function errors(body, key, go) {
  const b = new Batch();
  const sys = b.create('TivelMgt.SysMgt');
  const call = b.call(sys, 'getAllErr');
  const dump = b.dump(call);
  const all = listOf(await b.run(), call, dump);
  const fields = (e) => [
    {name: 'Hlp_No', label: t('err.help'), value: e.Hlp_No},
    {name: 'Err_Type', label: t('err.type'), value: e.Err_Type},
    {name: 'Disc', label: t('disc'), value: e.Disc},
    {name: 'IsLog', label: t('err.log'), type: 'checkbox', value: e.IsLog === '1'},
    {name: 'IsVisibility', label: t('err.visible'), type: 'checkbox', value: e.IsVisibility === undefined || e.IsVisibility === '1'},
  ];
  const values = (v) => ({...v, IsLog: v.IsLog ? 1 : 0, IsVisibility: v.IsVisibility ? 1 : 0});
  const chosen = all.find((e) => e.Err_No === key);
  const detail = h('div');
  if (chosen) {
    const edit = form(fields(chosen), t('save'), async (v, msg) => {
      const done = await change('修改错误 ' + key, msg, (b) => {
        b.change(b.create('TivelMgt.SysMgt'), 'updateErr', b.record('cSysErr', {Err_No: key, ...values(v)}), key);
      });
      if (done) await go(key);
    });
    const delMsg = note();
    const del = confirmButton(t('delete'), t('confirm.delete'), async () => {
      if (await change('删除错误 ' + key, delMsg, (b) => b.change(b.create('TivelMgt.SysMgt'), 'delErr', key))) await go('');
    });
    detail.append(section(key, edit, h('div', {class: 'buttons'}, del), delMsg));
  }
  detail.append(section(t('err.add'), form(fields({}), t('add'), async (v, msg) => {
    let id;
    const done = await change('添加错误 ' + v.Disc, msg, (b) => {
      id = b.change(b.create('TivelMgt.SysMgt'), 'AddErr', b.record('cSysErr', values(v)), byRef(''));
    });
    if (done) await go(done.refs(id)['1']);
  })));
  show(body, table([
    [t('key'), (e) => h('a', {href: '#/system/errors/' + encodeURIComponent(e.Err_No)}, e.Err_No)],
    [t('err.help'), (e) => e.Hlp_No],
    [t('err.type'), (e) => e.Err_Type],
    [t('disc'), (e) => e.Disc],
  ], all), detail);
}
