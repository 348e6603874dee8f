// Building the page. Text always goes in as text (text nodes and
// textContent), never as markup, so whatever a user typed is shown as the
// characters it is.
import {t} from './i18n.js';

// A new element: h('button', {class: 'x', onclick: f}, 'text', child...).
// Attributes whose value is null, undefined or false are left out; on...
// functions become listeners; `value` and `checked` are set as properties.
export function h(tag, attrs, ...children) {
  const el = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) {
    if (v === null || v === undefined || v === false) continue;
    if (k.startsWith('on') && typeof v === 'function') el.addEventListener(k.slice(2), v);
    else if (k === 'class') el.className = v;
    else if (k === 'value' || k === 'checked' || k === 'selected') el[k] = v;
    else el.setAttribute(k, v === true ? '' : String(v));
  }
  add(el, ...children);
  return el;
}

// Appends children: nodes as they are, anything else as text.
export function add(el, ...children) {
  for (const c of children.flat(Infinity)) {
    if (c === null || c === undefined || c === false) continue;
    el.append(c instanceof Node ? c : document.createTextNode(String(c)));
  }
  return el;
}

export function clear(el) {
  while (el.firstChild) el.firstChild.remove();
  return el;
}

// A message line under a form: role=alert so that it is read out.
export function note() {
  const el = h('p', {class: 'note', role: 'alert'});
  el.show = (text, kind = 'error') => {
    el.className = 'note ' + kind;
    el.textContent = text;
  };
  el.clear = () => {
    el.className = 'note';
    el.textContent = '';
  };
  return el;
}

let fieldCount = 0;

// A labelled field: {name, label, type ('text', 'password', 'textarea',
// 'select', 'checkbox', 'date', 'number'), options [[value, label]], value,
// readonly, autocomplete}. Returns the wrapper; its control is .control.
export function field(f) {
  const id = 'f' + ++fieldCount;
  let control;
  if (f.type === 'textarea') {
    control = h('textarea', {id, name: f.name, rows: 4, readonly: f.readonly});
    control.value = f.value ?? '';
  } else if (f.type === 'select') {
    control = h('select', {id, name: f.name, disabled: f.readonly},
                (f.options || []).map(([v, label]) => h('option', {value: v}, label)));
    // Without a value given, the first option stays chosen.
    if (f.value !== undefined && f.value !== null) control.value = f.value;
  } else if (f.type === 'checkbox') {
    control = h('input', {id, name: f.name, type: 'checkbox', checked: !!f.value, disabled: f.readonly});
  } else {
    control = h('input', {id, name: f.name, type: f.type || 'text', readonly: f.readonly,
                          autocomplete: f.autocomplete || (f.type === 'password' ? 'new-password' : 'off')});
    control.value = f.value ?? '';
  }
  const wrap = h('div', {class: 'field' + (f.type === 'checkbox' ? ' check' : '')},
                 h('label', {for: id}, f.label), control);
  wrap.control = control;
  return wrap;
}

// A form of fields with a submit button and a message line. onSubmit gets
// the values by name (checkboxes as booleans) and the message line; the
// button is disabled while it runs. `extra` are more buttons after it.
export function form(fields, submitLabel, onSubmit, extra = []) {
  const msg = note();
  const wraps = fields.map(field);
  const button = h('button', {type: 'submit'}, submitLabel);
  const el = h('form', {class: 'form', novalidate: true}, wraps, h('div', {class: 'buttons'}, button, extra), msg);
  el.values = () => {
    const out = {};
    for (const w of wraps) out[w.control.name] = w.control.type === 'checkbox' ? w.control.checked : w.control.value;
    return out;
  };
  el.control = (name) => wraps.find((w) => w.control.name === name)?.control;
  el.msg = msg;
  el.addEventListener('submit', async (e) => {
    e.preventDefault();
    msg.clear();
    button.disabled = true;
    try {
      await onSubmit(el.values(), msg);
    } catch (err) {
      if (err.name === 'SessionEnded') throw err;
      msg.show(err.message, 'error');
    } finally {
      button.disabled = false;
    }
  });
  return el;
}

// A table: columns [[heading, row => cell]]; a cell is text or a node. A
// column without a heading (buttons) is headed for screen readers only.
export function table(columns, rows, caption) {
  const headed = (head) => (head === '' ? h('span', {class: 'sr-only'}, t('col.actions')) : head);
  return h('table', {},
           caption ? h('caption', {}, caption) : null,
           h('thead', {}, h('tr', {}, columns.map(([head]) => h('th', {scope: 'col'}, headed(head))))),
           h('tbody', {}, rows.map((r) => h('tr', {}, columns.map(([, cell]) => h('td', {}, cell(r)))))));
}

// A button that asks once more before it acts.
export function confirmButton(label, confirmLabel, act) {
  const wrap = h('span', {class: 'confirm'});
  const ask = h('button', {type: 'button', class: 'danger'}, label);
  ask.addEventListener('click', () => {
    const yes = h('button', {type: 'button', class: 'danger'}, confirmLabel);
    const no = h('button', {type: 'button'}, '✕');
    yes.addEventListener('click', () => act());
    no.addEventListener('click', () => {
      clear(wrap).append(ask);
      ask.focus();
    });
    clear(wrap).append(yes, no);
    yes.focus();
  });
  wrap.append(ask);
  return wrap;
}

export function section(title, ...children) {
  return h('section', {class: 'panel'}, h('h2', {}, title), children);
}
