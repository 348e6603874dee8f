// Talking to the server: the batches of /console/rpc (the same protocol as
// /rpc: one JSON array of requests, one array of answers), the console's one
// way to its data; its own routes only for the session's read, the sign-in
// steps and the sign-out. Every request carries the session's CSRF token.
import {errorNumbers} from './codes.js';
import {codeText, t} from './i18n.js';

let csrf = '';
export function setCsrf(token) { csrf = token; }

// The session is gone (signed out elsewhere, timed out): the page signs in again.
export class SessionEnded extends Error {
  constructor() {
    super('The console session has ended');
    this.name = 'SessionEnded';
  }
}

async function send(method, path, body, headers = {}) {
  const r = await fetch(path, {
    method,
    credentials: 'same-origin',
    headers: {'X-Tivel-CSRF': csrf, ...(body === undefined ? {} : {'Content-Type': 'application/json'}), ...headers},
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  if (r.status === 401 && !['/signin', '/code', '/password'].some((p) => path.endsWith(p))) throw new SessionEnded();
  let data = null;
  try {
    data = await r.json();
  } catch {
    data = null;
  }
  return {status: r.status, data, headers: r.headers};
}

// The console's own routes: GET with query arguments, POST with a JSON body.
export const api = {
  async get(path, args = {}) {
    const q = new URLSearchParams(Object.entries(args).filter(([, v]) => v !== '' && v !== undefined));
    const r = await send('GET', path + (q.toString() ? '?' + q : ''));
    if (r.status !== 200) throw new Error(r.data?.message || String(r.status));
    return r.data;
  },
  post: (path, body) => send('POST', path, body),
};

// The console's own reads (TivelMgt.ConsoleMgt, which only the console's
// scope reaches), each one batch like every other call: a recordset dumped
// as {fields, rows}, its rows given names here, and for the paged reads the
// count beside them. A read that fails throws its error's description.
async function consoleRead(member, args, names, countMember, countArgs) {
  const b = new Batch();
  const c = b.create('TivelMgt.ConsoleMgt');
  const rs = b.call(c, member, ...args);
  const dumped = b.dump(rs);
  const count = countMember ? b.call(c, countMember, ...countArgs) : null;
  const a = await b.run();
  a.result(rs);
  const rows = (a.result(dumped)?.rows || []).map((r) => Object.fromEntries(names.map((n, i) => [n, r[i]])));
  return count ? {total: Number(a.result(count)), rows} : rows;
}

const one = (v) => Number(text(v)) === 1;

export const reads = {
  // The user's latest 20 login records: [{time, address, valid}].
  logins: async (usr) => (await consoleRead('getUsrLogins', [usr, 20], ['time', 'address', 'valid']))
    .map((l) => ({time: text(l.time), address: text(l.address), valid: one(l.valid)})),
  // The user's console sessions not yet ended: [{time, address, lastSeen, current}] (current: the caller's own).
  sessions: async (usr) => (await consoleRead('getUsrSessions', [usr], ['time', 'address', 'lastSeen', 'current']))
    .map((s) => ({time: text(s.time), address: text(s.address), lastSeen: text(s.lastSeen), current: one(s.current)})),
  // The user's organisations: [{org, main, priority}] (main: IsMain 0).
  memberships: async (usr) => (await consoleRead('getUsrOrgs', [usr], ['org', 'main', 'priority']))
    .map((m) => ({org: text(m.org), main: text(m.main) !== '' && Number(text(m.main)) === 0, priority: text(m.priority)})),
  // Every system attribute's key and name: [{key, name}].
  attributes: async () => (await consoleRead('getSysAttrKeys', [], ['key', 'name']))
    .map((x) => ({key: text(x.key), name: text(x.name)})),
  // The password rules in the console's language, '' when none are set.
  passwordRules: async (language) => {
    const b = new Batch();
    const rules = b.call(b.create('TivelMgt.ConsoleMgt'), 'getPwdRules', language);
    return text((await b.run()).result(rules));
  },
  // A page of the system log, newest first: {total, rows:[{key, time, module, text, logType, msgType}]}.
  log: async ({from = '', to = '', account = '', text: find = '', page = 0, size = 50}) => {
    const r = await consoleRead('getLogPage', [from, to, account, find, page, size],
                                ['key', 'time', 'module', 'text', 'logType', 'msgType'], 'getLogCount',
                                [from, to, account, find]);
    r.rows = r.rows.map((x) => Object.fromEntries(Object.entries(x).map(([k, v]) => [k, text(v)])));
    return r;
  },
};

// A request's answer, to name in later requests of the batch: as the object
// (object: ...) or, in an argument or a value, as the object or value it
// answered.
class Answer {
  constructor(id) { this.id = id; }
  toJSON() { return {from: this.id}; }
}

// An argument passed by reference: its value as the call left it is in refs().
export const byRef = (value) => ({ref: value});

export class Batch {
  constructor() {
    this.requests = [];
    this.changes = [];
  }
  push(request) {
    const a = new Answer('r' + (this.requests.length + 1));
    this.requests.push({id: a.id, ...request});
    return a;
  }
  create(progid) { return this.push({new: progid}); }
  call(object, member, ...args) { return this.push({object, call: member, args}); }
  // A call that changes data: its answer must be "0" or true.
  change(object, member, ...args) {
    const a = this.call(object, member, ...args);
    this.changes.push(a);
    return a;
  }
  get(object, property) { return this.push({object, get: property}); }
  put(object, property, value) { return this.push({object, put: property, value}); }
  dump(object) { return this.push({dump: object}); }
  // A new record object of TivelPublicDB with the given properties.
  record(cls, properties) {
    const r = this.create('TivelPublicDB.' + cls);
    for (const [k, v] of Object.entries(properties)) if (v !== undefined) this.put(r, k, v);
    return r;
  }

  // Runs the batch; `change` says in words what it changes (for the system log).
  async run(change = '') {
    const headers = change ? {'Tivel-Change': encodeURIComponent(change)} : {};
    const r = await send('POST', '/console/rpc', this.requests, headers);
    if (r.status !== 200 || !Array.isArray(r.data)) throw new Error(r.data?.error?.description || r.data?.message || String(r.status));
    return new Answers(r.data, r.headers.get('Tivel-Change'), this.changes);
  }
}

// The answers of a batch, looked up by the requests that asked.
export class Answers {
  constructor(list, change, changes) {
    this.byId = new Map(list.map((a) => [a.id, a]));
    this.change = change;
    this.changes = changes;
  }
  answer(a) { return this.byId.get(a.id) || {}; }
  // The result; a request that failed throws its error's description.
  result(a) {
    const x = this.answer(a);
    if (x.error) throw new Error(x.error.description);
    return x.result;
  }
  refs(a) { return this.answer(a).refs || {}; }
  // What went wrong with the batch's change, as a sentence; '' when it was done.
  failure() {
    if (this.change !== 'undone') return '';
    for (const a of this.changes) {
      const x = this.answer(a);
      if (x.error) return t('failed') + x.error.description;
      if (x.result !== '0' && x.result !== true) return typeof x.result === 'string' ? codeText(x.result) : t('undone');
    }
    for (const x of this.byId.values()) if (x.error && x.error.number !== errorNumbers.NotRun) return t('failed') + x.error.description;
    return t('undone');
  }
}

// A plain text of a dumped value: Empty, Null and Nothing as ''.
export function text(v) {
  if (v === null || v === undefined) return '';
  if (typeof v === 'object') return v.date ?? (v.empty || 'object' in v ? '' : JSON.stringify(v));
  return String(v);
}

// The records of a dumped collection, their values as texts.
export function records(dump) {
  if (!Array.isArray(dump)) return [];
  return dump.map((e) => Object.fromEntries(Object.entries(e.item || {}).map(([k, v]) => [k, text(v)])));
}

// A dumped record, its values as texts; null for none.
export function record(dump) {
  return dump && typeof dump === 'object' && !Array.isArray(dump)
    ? Object.fromEntries(Object.entries(dump).map(([k, v]) => [k, text(v)])) : null;
}

// The records of a list call: [] when it answered Nothing (the lists of
// AppMgt and SysMgt do when nothing matches).
export function listOf(answers, call, dump) {
  const r = answers.answer(call).result;
  if (r && typeof r === 'object' && r.object === null) return [];
  return records(answers.answer(dump).result);
}

// Runs a change: `build(batch)` adds its requests; shows the outcome in
// `msg`; true when it was done.
export async function change(description, msg, build) {
  const b = new Batch();
  build(b);
  try {
    const a = await b.run(description);
    const why = a.failure();
    if (why) {
      msg?.show(why);
      return false;
    }
    msg?.show(t('done'), 'ok');
    return a;
  } catch (e) {
    if (e instanceof SessionEnded) throw e;
    msg?.show(t('failed') + e.message);
    return false;
  }
}
