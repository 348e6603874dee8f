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

// A tree of items (the WAI-ARIA tree pattern): one item in the tab order at
// a time (the chosen one, else the first); Up and Down move between the
// items shown, Right opens a closed item or goes to its first child, Left
// closes an open item or goes to its parent, Home and End go to the first
// and the last, Enter, Space or a click choose: onSelect(node).
// A choice made with the keyboard puts the focus back on the chosen item of
// the tree the page draws next, so that the keys go on working there.
let refocus = false;

export function treeView(roots, label, selectedKey, onSelect, name = '') {
  const choose = (node, byKey) => {
    refocus = byKey;
    onSelect(node);
  };
  const item = (n, level) => {
    const open = n.children.length > 0;
    const li = h('li', {role: 'treeitem', class: 'node' + (n.key === selectedKey ? ' selected' : ''),
                        'aria-level': level, 'aria-selected': n.key === selectedKey ? 'true' : 'false',
                        'aria-expanded': open ? 'true' : null, 'data-key': n.key, tabindex: '-1'},
                 h('span', {class: 'label'}, label(n.rec)),
                 open ? h('ul', {role: 'group'}, n.children.map((c) => item(c, level + 1))) : null);
    li.node = n;
    return li;
  };
  const el = h('ul', {role: 'tree', class: 'tree', 'aria-label': name || null}, roots.map((n) => item(n, 1)));
  const shown = () => [...el.querySelectorAll('[role=treeitem]')].filter(
    (li) => !li.parentElement.closest('[role=treeitem][aria-expanded=false]'));
  const focus = (li) => {
    if (!li) return;
    for (const x of el.querySelectorAll('[role=treeitem]')) x.tabIndex = -1;
    li.tabIndex = 0;
    li.focus();
  };
  const first = el.querySelector('[role=treeitem][aria-selected=true]') || el.querySelector('[role=treeitem]');
  if (first) first.tabIndex = 0;
  if (refocus && first) {
    refocus = false;
    setTimeout(() => first.isConnected && first.focus(), 0);
  }
  el.addEventListener('click', (e) => {
    const li = e.target.closest('[role=treeitem]');
    if (!li || !el.contains(li)) return;
    e.stopPropagation();
    choose(li.node, false);
  });
  el.addEventListener('keydown', (e) => {
    const li = e.target.closest('[role=treeitem]');
    if (!li) return;
    const items = shown();
    const at = items.indexOf(li);
    const expanded = li.getAttribute('aria-expanded');
    switch (e.key) {
      case 'ArrowDown': focus(items[at + 1]); break;
      case 'ArrowUp': focus(items[at - 1]); break;
      case 'Home': focus(items[0]); break;
      case 'End': focus(items[items.length - 1]); break;
      case 'ArrowRight':
        if (expanded === 'false') li.setAttribute('aria-expanded', 'true');
        else if (expanded === 'true') focus(li.querySelector('[role=treeitem]'));
        break;
      case 'ArrowLeft':
        if (expanded === 'true') li.setAttribute('aria-expanded', 'false');
        else focus(li.parentElement.closest('[role=treeitem]'));
        break;
      case 'Enter': case ' ': choose(li.node, true); break;
      default: return;
    }
    e.preventDefault();
    e.stopPropagation();
  });
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
