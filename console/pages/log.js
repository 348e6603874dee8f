// The system log, newest first, a page at a time, filtered by time (to the
// minute, both ends included), account and text (the console's own read: no component reads it so),
// and its export as CSV.
import {form, h, table} from '../dom.js';
import {t} from '../i18n.js';
import {reads} from '../rpc.js';
import {heading, show} from './common.js';

const SIZE = 50;

export async function render(main, params, me) {
  const results = h('div', {class: 'results'});
  let query = {};
  let page = 0;
  const load = async () => {
    const data = await reads.log({...query, page, size: SIZE});
    const pages = Math.max(1, Math.ceil(data.total / SIZE));
    show(results,
         table([
           [t('log.time'), (r) => r.time || ''],
           [t('log.module'), (r) => r.module || ''],
           [t('log.entry'), (r) => r.text || ''],
         ], data.rows),
         h('div', {class: 'pager'},
           h('button', {type: 'button', disabled: page === 0, onclick: () => { page--; load(); }}, t('prev')),
           h('span', {}, t('page.of', page + 1, pages, data.total)),
           h('button', {type: 'button', disabled: page >= pages - 1, onclick: () => { page++; load(); }}, t('next'))));
  };
  // The export takes the filters in force, all pages of them.
  const exportLink = h('a', {class: 'button', download: 'log.csv'}, t('log.export'));
  const exportHref = () => '/console/export/log.csv?' + new URLSearchParams(
    [...Object.entries(query).filter(([, v]) => v !== ''), ['csrf', me.csrf]]);
  const filters = form([
    {name: 'from', label: t('log.from'), type: 'datetime-local'},
    {name: 'to', label: t('log.to'), type: 'datetime-local'},
    {name: 'account', label: t('account')},
    {name: 'text', label: t('log.text')},
  ], t('log.filter'), async (v, msg) => {
    query = v;
    page = 0;
    exportLink.href = exportHref();
    await load();
  }, [exportLink]);
  filters.classList.add('filters');
  exportLink.href = exportHref();
  show(main, heading(t('log.title')), filters, results);
  await load();
}
