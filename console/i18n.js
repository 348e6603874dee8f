// The console's words in Simplified Chinese (the default) and English, the
// sentences of the components' result codes, and the language switch: the
// choice stays in this browser; without one, an English browser gets English.
// The codes' sentences come from the components' table (codes.js, generated).
import {codes, loginCodes} from './codes.js';

const words = {
  'app.title': ['Tivel 管理控制台', 'Tivel administration console'],
  'lang.switch': ['English', '中文'],
  'nav.orgs': ['组织机构', 'Organisation'],
  'nav.users': ['用户', 'Users'],
  'nav.groups': ['组', 'Groups'],
  'nav.roles': ['角色', 'Roles'],
  'nav.apps': ['应用与授权', 'Applications'],
  'nav.system': ['系统', 'System'],
  'nav.log': ['系统日志', 'System log'],
  'signin.title': ['登录管理控制台', 'Sign in to the console'],
  'signin.account': ['帐号', 'Account'],
  'signin.password': ['密码', 'Password'],
  'signin.submit': ['登录', 'Sign in'],
  'signin.ended': ['会话已结束，请重新登录。', 'The session has ended; please sign in again.'],
  'signin.denied': ['该帐号没有管理控制台的使用权限。', 'This account has no access to the console.'],
  'signin.failed': ['无法登录：', 'Cannot sign in: '],
  'code.title': ['输入一次性验证码', 'Enter the one-time code'],
  'code.label': ['验证码', 'Code'],
  'code.submit': ['验证', 'Verify'],
  'code.hint': ['请输入身份验证器应用显示的六位验证码。', 'Enter the six-digit code your authenticator app shows.'],
  'code.wrong': ['验证码不正确或已使用，请输入新的验证码。', 'The code is wrong or was used already; enter a new one.'],
  'code.expired': ['验证已超时，请重新登录。', 'The sign-in timed out; please sign in again.'],
  'sessions.title': ['控制台会话', 'Console sessions'],
  'sessions.lastSeen': ['最近活动', 'Last active'],
  'sessions.current': ['本会话', 'This session'],
  'sessions.end': ['全部退出（结束所有会话）', 'Sign out everywhere'],
  'sessions.ended': ['已结束 {0} 个会话。', '{0} session(s) ended.'],
  'totp.enroll': ['启用二次验证（生成新密钥）', 'Enrol a second factor (new secret)'],
  'totp.confirm': ['生成新密钥？旧密钥将失效。', 'Make a new secret? The old one stops working.'],
  'totp.qr': ['身份验证器应用的二维码', 'QR code for an authenticator app'],
  'totp.secret': ['密钥：', 'Secret: '],
  'totp.once': ['请让 {0} 现在用身份验证器应用扫描；密钥只显示这一次。', 'Have {0} scan it with an authenticator app now; the secret is shown only this once.'],
  'password.title': ['必须先修改密码', 'The password must be changed first'],
  'password.old': ['当前密码', 'Current password'],
  'password.new': ['新密码', 'New password'],
  'password.repeat': ['再次输入新密码', 'New password again'],
  'password.submit': ['修改密码并登录', 'Change the password and sign in'],
  'password.mismatch': ['两次输入的新密码不一致。', 'The two new passwords differ.'],
  'password.empty': ['新密码不能为空。', 'The new password is empty.'],
  'signout': ['退出', 'Sign out'],
  'signed.in': ['当前用户：', 'Signed in: '],
  'save': ['保存', 'Save'],
  'add': ['添加', 'Add'],
  'edit': ['编辑', 'Edit'],
  'delete': ['删除', 'Delete'],
  'remove': ['移除', 'Remove'],
  'cancel': ['取消', 'Cancel'],
  'confirm.delete': ['确定删除？', 'Delete it?'],
  'confirm.yes': ['确定', 'Yes'],
  'saved': ['已保存。', 'Saved.'],
  'done': ['已完成。', 'Done.'],
  'loading': ['正在加载…', 'Loading…'],
  'none': ['（无）', '(none)'],
  'top': ['（顶层）', '(top)'],
  'undone': ['操作失败，未作任何更改。', 'The change failed; nothing was changed.'],
  'failed': ['操作失败：', 'Failed: '],
  'code': ['（代码 {0}）', ' (code {0})'],
  'search': ['查找', 'Find'],
  'search.hint': ['按帐号或姓名查找', 'Find by account or name'],
  'prev': ['上一页', 'Previous'],
  'next': ['下一页', 'Next'],
  'page.of': ['第 {0} / {1} 页，共 {2} 条', 'Page {0} of {1}, {2} in all'],
  'key': ['编号', 'Key'],
  'name': ['名称', 'Name'],
  'disc': ['说明', 'Description'],
  'priority': ['排序', 'Priority'],
  'account': ['帐号', 'Account'],
  'person': ['姓名', 'Name'],
  'org.title': ['组织机构', 'Organisation'],
  'org.addTop': ['添加顶层部门', 'Add a top department'],
  'org.addChild': ['添加下级部门', 'Add a department below'],
  'org.move': ['移动到', 'Move under'],
  'org.moveDo': ['移动', 'Move'],
  'org.members': ['成员', 'Members'],
  'org.addMember': ['添加成员（帐号）', 'Add a member (account)'],
  'org.notEmpty': ['该部门还有下级部门或成员，不能删除。', 'The department still has departments or members below it.'],
  'org.choose': ['请在左侧选择一个部门。', 'Choose a department on the left.'],
  'org.parent': ['上级部门', 'Parent department'],
  'res.parent': ['上级资源', 'Parent resource'],
  'mod.parent': ['上级模块', 'Parent module'],
  'main': ['主部门', 'Main'],
  'other': ['其他', 'Other'],
  'asMain': ['作为主部门', 'As main department'],
  'noAccount': ['帐号 {0} 不存在。', 'There is no account {0}.'],
  'users.title': ['用户', 'Users'],
  'users.add': ['新增用户', 'Add a user'],
  'users.count': ['共 {0} 个用户', '{0} users'],
  'users.found': ['找到 {0} 个', '{0} found'],
  'user.basic': ['基本信息', 'Details'],
  'user.pwd': ['密码', 'Password'],
  'user.netName': ['网名', 'Net name'],
  'user.address': ['地址', 'Address'],
  'user.phone': ['电话', 'Phone'],
  'user.mobile': ['手机', 'Mobile'],
  'user.email': ['电子邮件', 'E-mail'],
  'user.emailOA': ['办公邮件', 'Office e-mail'],
  'user.state': ['状态', 'State'],
  'user.loginMode': ['登录方式', 'Login mode'],
  'user.loginCount': ['登录次数', 'Logins'],
  'user.accountTime': ['创建时间', 'Created'],
  'user.dept': ['所属部门', 'Department'],
  'user.state.0': ['正常', 'Active'],
  'user.state.1': ['申请中', 'Applied'],
  'user.state.2': ['冻结', 'Frozen'],
  'user.state.3': ['已删除', 'Deleted'],
  'user.actions': ['帐号操作', 'Account'],
  'user.resetPwd': ['重置密码', 'Reset the password'],
  'user.newPwd': ['新密码', 'New password'],
  'user.unlock': ['解锁（清除登录错误次数）', 'Unlock (clear the login-error count)'],
  'user.errors': ['登录错误次数 {0}，锁定阈值 {1}', 'Login errors {0}, lock threshold {1}'],
  'user.locked': ['帐号已锁定', 'The account is locked'],
  'user.deleteUser': ['删除该用户', 'Delete this user'],
  'user.notSelf': ['不能删除当前登录的帐号。', 'The account signed in cannot be deleted.'],
  'user.orgs': ['所属部门', 'Organisations'],
  'user.groups': ['所属组', 'Groups'],
  'user.roles': ['角色', 'Roles'],
  'user.security': ['安全属性', 'Security attributes'],
  'user.extended': ['扩展属性', 'Extended attributes'],
  'user.logins': ['最近登录记录', 'Recent logins'],
  'user.back': ['返回用户列表', 'Back to the users'],
  'sec.meaning': ['含义', 'Meaning'],
  'sec.default': ['默认值', 'Default'],
  'sec.value': ['本用户的值', "This user's value"],
  'sec.clear': ['清除', 'Clear'],
  'ext.addDef': ['新增扩展属性', 'Add an extended attribute'],
  'ext.global': ['适用于所有用户', 'For every user'],
  'login.time': ['时间', 'Time'],
  'login.address': ['地址', 'Address'],
  'login.valid': ['有效', 'In force'],
  'yes': ['是', 'yes'],
  'no': ['否', 'no'],
  'groups.title': ['组', 'Groups'],
  'groups.add': ['新增组', 'Add a group'],
  'groups.fixed': ['固定组（1 系统管理员、2 安全管理员、3 注册用户）不能删除。',
                   'The fixed groups (1 system, 2 security administrators, 3 registered users) cannot be deleted.'],
  'roles.title': ['角色', 'Roles'],
  'roles.add': ['新增角色', 'Add a role'],
  'roles.app': ['应用', 'Application'],
  'apps.title': ['应用、资源与授权', 'Applications, resources and authorizations'],
  'apps.add': ['新增应用', 'Add an application'],
  'apps.notEmpty': ['该应用还有资源或角色，不能删除。', 'The application still has resources or roles.'],
  'res.title': ['资源', 'Resources'],
  'res.add': ['新增资源', 'Add a resource'],
  'res.isRes': ['受保护资源', 'Protected resource'],
  'res.notEmpty': ['该资源还有下级资源，不能删除。', 'The resource still has resources below it.'],
  'rgt.title': ['权限', 'Rights'],
  'rgt.bit': ['权限位', 'Bit'],
  'rgt.add': ['新增权限', 'Add a right'],
  'auth.title': ['授权', 'Authorizations'],
  'auth.subject': ['授权对象', 'Subject'],
  'auth.type': ['对象类型', 'Subject type'],
  'auth.type.0': ['组织', 'Organisation'],
  'auth.type.1': ['组', 'Group'],
  'auth.type.2': ['角色', 'Role'],
  'auth.type.3': ['用户', 'User'],
  'auth.add': ['添加授权对象', 'Add a subject'],
  'auth.noRights': ['该资源还没有权限。', 'The resource has no rights yet.'],
  'sys.title': ['系统', 'System'],
  'sys.modules': ['模块', 'Modules'],
  'sys.attrs': ['系统属性', 'System attributes'],
  'sys.help': ['帮助主题', 'Help topics'],
  'sys.errors': ['错误目录', 'Error catalogue'],
  'mod.add': ['新增模块', 'Add a module'],
  'mod.enName': ['英文名称', 'English name'],
  'mod.logo': ['图标', 'Logo'],
  'mod.install': ['已安装', 'Installed'],
  'mod.visible': ['可见', 'Visible'],
  'mod.url': ['链接', 'Link'],
  'mod.param': ['参数', 'Parameters'],
  'attr.add': ['新增系统属性', 'Add a system attribute'],
  'attr.type': ['类型', 'Type'],
  'attr.value': ['值', 'Value'],
  'hlp.add': ['新增帮助主题', 'Add a help topic'],
  'hlp.topic': ['主题', 'Topic'],
  'hlp.context': ['内容', 'Text'],
  'hlp.example': ['示例', 'Example'],
  'hlp.module': ['模块编号', 'Module key'],
  'hlp.moduleName': ['模块名称', 'Module name'],
  'hlp.refs': ['参见', 'See also'],
  'hlp.addRef': ['添加参见', 'Add a reference'],
  'err.add': ['新增错误', 'Add an error'],
  'err.help': ['帮助主题', 'Help topic'],
  'err.type': ['类型', 'Type'],
  'err.log': ['记录日志', 'Logged'],
  'err.visible': ['显示', 'Shown'],
  'notEmpty': ['还有下级项目，不能删除。', 'There are entries below it.'],
  'log.title': ['系统日志', 'System log'],
  'log.from': ['起始时间', 'From (date and time)'],
  'log.to': ['截止时间', 'To (date and time)'],
  'log.text': ['内容包含', 'Text contains'],
  'log.filter': ['筛选', 'Filter'],
  'log.time': ['时间', 'Time'],
  'log.module': ['模块', 'Module'],
  'log.entry': ['内容', 'Entry'],
  'log.export': ['导出 CSV', 'Export CSV'],
  'col.actions': ['操作', 'Actions'],
  'any': ['全部', 'any'],
  'users.export': ['导出 CSV', 'Export CSV'],
  'users.locked': ['已锁定的用户', 'Locked users'],
  'users.noneLocked': ['没有已锁定的用户。', 'No user is locked.'],
  'users.errors': ['登录错误次数', 'Login errors'],
  'users.unlocked': ['{0} 已解锁。', '{0} is unlocked.'],
  'user.unlockShort': ['解锁', 'Unlock'],
  'users.chooseAll': ['选择本页全部用户', 'Choose every user of this page'],
  'users.choose': ['选择 {0}', 'Choose {0}'],
  'users.chosen': ['已选 {0} 个用户', '{0} users chosen'],
  'users.chooseFirst': ['请先选择用户和组。', 'Choose the users and a group first.'],
  'users.bulk': ['批量设置组成员', 'Group membership of the chosen users'],
  'users.join': ['加入该组', 'Add to the group'],
  'users.leave': ['移出该组', 'Remove from the group'],
  'users.joined': ['{0} 个用户已加入 {1}。', '{0} users added to {1}.'],
  'users.left': ['{0} 个用户已移出 {1}。', '{0} users removed from {1}.'],
  'users.already': ['已在组中，未改动：{0}', 'Already members, left as they are: {0}'],
  'users.notIn': ['不在组中，未改动：{0}', 'Not members, left as they are: {0}'],
  'user.mustChange': ['下次登录时必须修改密码', 'Must change the password at the next login'],
  'user.resetDone': ['密码已重置。', 'The password is reset.'],
  'user.resetMust': ['密码已重置，下次登录时必须修改。', 'The password is reset; it must be changed at the next login.'],
  'sec.setting': ['设置', 'Setting'],
  'sec.raw': ['原始安全属性表', 'The stored security attributes'],
  'sec.stored': ['存储的值', 'Stored value'],
  'sec.secretSet': ['（已设置，不显示）', '(set, not shown)'],
  'totp.title': ['二次验证', 'Second factor'],
  'totp.on': ['已启用：登录需输入一次性验证码。', 'On: logins need a one-time code.'],
  'totp.off': ['未启用。', 'Off.'],
  'totp.remove': ['移除二次验证', 'Remove the second factor'],
  'totp.removeConfirm': ['确定移除？密钥将被删除。', 'Remove it? The secret is deleted.'],
};

// The short titles of the policy attributes, by their fixed names.
const secTitles = {
  IpLimit: ['允许的登录地址', 'Allowed addresses'],
  TimeLimit: ['允许的登录时间', 'Allowed times'],
  LogErrNum: ['登录错误次数', 'Login errors'],
  LogErrLockNum: ['锁定阈值', 'Lock threshold'],
  IsPwdTwo: ['需要二次验证', 'Second factor required'],
  PwdTwo: ['二次验证密钥', 'Second-factor secret'],
  AcntLimitDate: ['帐号有效期至', 'Account valid until'],
  PwdLimitDate: ['密码有效期至', 'Password valid until'],
  PwdFirstLimit: ['下次登录须修改密码', 'Change the password at the next login'],
  Certificate: ['证书', 'Certificate'],
  CertSignature: ['证书签名', 'Certificate signature'],
  LdapAcnt: ['目录（LDAP）帐号', 'Directory (LDAP) account'],
  LdapPwd: ['目录密码（未使用）', 'Directory password (not used)'],
};

// What the policy attributes mean, by their fixed names.
const policy = {
  IpLimit: ['允许登录的地址：IPv4/IPv6 地址或网段，以逗号分隔；空为不限', 'Addresses a login may come from: IPv4/IPv6 addresses or ranges, comma-separated; empty: any'],
  TimeLimit: ['允许登录的时间段，如 Mon-Fri 08:00-18:30；空为不限', 'When logins are allowed, e.g. Mon-Fri 08:00-18:30; empty: any time'],
  LogErrNum: ['当前连续登录错误次数', 'Wrong passwords in a row so far'],
  LogErrLockNum: ['错误次数达到此值即锁定帐号；0 为不锁定', 'The count of wrong passwords that locks the account; 0: never'],
  IsPwdTwo: ['1：登录需第二因素（一次性验证码）', '1: logins need a second factor (one-time code)'],
  PwdTwo: ['第二因素的密钥', 'The second factor\'s secret'],
  AcntLimitDate: ['帐号有效期至（YYYY-MM-DD）', 'The account is valid until (YYYY-MM-DD)'],
  PwdLimitDate: ['密码有效期至（YYYY-MM-DD）', 'The password is valid until (YYYY-MM-DD)'],
  PwdFirstLimit: ['1：下次登录必须先修改密码', '1: the password must be changed at the next login'],
  Certificate: ['证书', 'Certificate'],
  CertSignature: ['证书签名', 'Certificate signature'],
  LdapAcnt: ['目录（LDAP）帐号；设置后用目录密码登录', 'Directory (LDAP) account; when set, the directory password logs in'],
  LdapPwd: ['（未使用）', '(not used)'],
};



const KEY = 'tivel.console.lang';
let index = (() => {
  const chosen = localStorage.getItem(KEY);
  if (chosen === 'zh') return 0;
  if (chosen === 'en') return 1;
  return (navigator.language || '').toLowerCase().startsWith('en') ? 1 : 0;
})();

export function lang() { return index === 0 ? 'zh-CN' : 'en'; }

// Switches the language and remembers the choice in this browser.
export function switchLang() {
  index = 1 - index;
  localStorage.setItem(KEY, index === 0 ? 'zh' : 'en');
  document.documentElement.lang = lang();
}

// The text of a word, {0}, {1}... replaced by the arguments.
export function t(key, ...args) {
  const entry = words[key];
  const text = entry ? entry[index] : key;
  return text.replace(/\{(\d)\}/g, (_, n) => String(args[Number(n)] ?? ''));
}

// The sentence of a login result code.
export function loginText(code) {
  const entry = loginCodes[code];
  return entry ? entry[index] : t('failed') + code;
}

// The sentence of a management operation's result code, the code beside it.
export function codeText(code) {
  const entry = codes[String(code)];
  return (entry ? entry[index] : t('failed').replace(/[：:] ?$/, '')) + t('code', code);
}

// The short title of a policy attribute (the name itself for others).
export function secTitle(name) {
  const entry = secTitles[name];
  return entry ? entry[index] : name;
}

// What a policy attribute means, by its name ('' for others).
export function policyText(name) {
  const entry = policy[name];
  return entry ? entry[index] : '';
}
