// A member list with removal and adding by account, for groups and roles.
import {form, h, note, section, table} from '../dom.js';
import {t} from '../i18n.js';
import {Batch, change} from '../rpc.js';

// `people` are cUmUsr records; remove(b, usrNo) and add(b, usrAnswer) add the
// change's calls to a batch; `what` names the group or role in the log.
export function members(people, what, {remove, add}, again) {
  const msg = note();
  const rows = table([
    [t('account'), (u) => h('a', {href: '#/users/' + encodeURIComponent(u.Usr_No)}, u.Account)],
    [t('person'), (u) => u.Name],
    ['', (u) => h('button', {type: 'button', onclick: async () => {
      if (await change('移除成员 ' + u.Account + ' ← ' + what, msg, (b) => remove(b, u.Usr_No))) await again();
    }}, t('remove'))],
  ], people);
  const f = form([{name: 'account', label: t('org.addMember')}], t('add'), async (v, fmsg) => {
    const check = new Batch();
    const no = check.get(check.call(check.create('TivelMgt.UmMgt'), 'getUsrByAccount', v.account), 'Usr_No');
    if ((await check.run()).answer(no).error) return fmsg.show(t('noAccount', v.account));
    const done = await change('添加成员 ' + v.account + ' → ' + what, fmsg, (b) => {
      const um = b.create('TivelMgt.UmMgt');
      add(b, b.get(b.call(um, 'getUsrByAccount', v.account), 'Usr_No'));
    });
    if (done) await again();
  });
  return section(t('org.members'), rows, msg, f);
}
