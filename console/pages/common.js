// What several pages share: trees of records read level by level, the tree
// view, the choosers, and a user looked up by account.
import {clear, h} from '../dom.js';
import {t} from '../i18n.js';
import {Batch, listOf} from '../rpc.js';

// A tree read level by level: `children(batch, object, key)` adds the calls
// that list a node's children and returns [call, dump]. Nodes are
// {rec, children, parent}; a key met twice is read once (no cycle runs on).
export async function loadTree(progid, keyOf, children, top = '0') {
  const nodes = new Map();
  const roots = [];
  let level = [top];
  while (level.length) {
    const b = new Batch();
    const obj = b.create(progid);
    const asked = level.map((k) => [k, children(b, obj, k)]);
    const a = await b.run();
    const next = [];
    for (const [parentKey, [call, dump]] of asked) {
      for (const rec of listOf(a, call, dump)) {
        const key = keyOf(rec);
        if (nodes.has(key)) continue;
        const parent = parentKey === top ? null : nodes.get(parentKey);
        const node = {rec, key, children: [], parent};
        nodes.set(key, node);
        (parent ? parent.children : roots).push(node);
        next.push(key);
      }
    }
    level = next;
  }
  return {roots, nodes};
}

// The organisation tree.
export function loadOrgs() {
  return loadTree('TivelMgt.UmMgt', (r) => r.Org_No, (b, um, k) => {
    const c = b.call(um, 'getSonOrgOfOrg', k);
    return [c, b.dump(c)];
  });
}

// A tree's nodes in order, with their depth.
export function flatten(roots, depth = 0, out = []) {
  for (const n of roots) {
    out.push([n, depth]);
    flatten(n.children, depth + 1, out);
  }
  return out;
}

// [value, label] options of a tree's nodes, indented by depth.
export function treeOptions(roots, label) {
  return flatten(roots).map(([n, d]) => [n.key, '\u3000'.repeat(d) + label(n.rec)]);
}

// Whether `node` lies below (or is) `ancestor`.
export function within(node, ancestor) {
  for (let n = node; n; n = n.parent) if (n === ancestor) return true;
  return false;
}

// A tree of buttons: choosing one calls onSelect(node).
export function treeView(roots, label, selectedKey, onSelect) {
  const list = (nodes) => h('ul', {role: 'group'}, nodes.map((n) => h('li', {},
    h('button', {type: 'button', class: n.key === selectedKey ? 'node selected' : 'node',
                 'aria-current': n.key === selectedKey ? 'true' : null, 'data-key': n.key,
                 onclick: () => onSelect(n)}, label(n.rec)),
    n.children.length ? list(n.children) : null)));
  const el = list(roots);
  el.setAttribute('role', 'tree');
  el.className = 'tree';
  return el;
}

// The usr_no of an account, '' when there is none.
export async function userNoOf(account) {
  const b = new Batch();
  const um = b.create('TivelMgt.UmMgt');
  const no = b.get(b.call(um, 'getUsrByAccount', account), 'Usr_No');
  const x = (await b.run()).answer(no);
  return x.error ? '' : String(x.result);
}

// A two-column layout: a list or tree on the left, details on the right.
export function split(left, right) {
  return h('div', {class: 'split'}, h('div', {class: 'side'}, left), h('div', {class: 'detail'}, right));
}

export function heading(title) {
  return h('h1', {}, title);
}

// Replaces the children of el.
export function show(el, ...children) {
  clear(el).append(...children.flat().filter(Boolean));
}

export const none = () => t('none');
