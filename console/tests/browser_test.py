#!/usr/bin/python3
"""The administrator's console in a real browser: headless Chromium driven by
Selenium against `tivel serve` processes on a scratch root.

Usage: browser_test.py TIVEL ENGINE [SCREENSHOT_DIR]
ENGINE is sqlite, postgresql or mariadb (a server engine needs its
TIVEL_TEST_PG_* or TIVEL_TEST_MARIADB_* HOST, PORT, USER and PASSWORD). Exits 77 (skipped) when Chromium, its driver or
Selenium is missing, or the engine's server is not given.
"""
import base64
import hashlib
import hmac
import os
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from console_fixture import SKIPPED, Portal, browser, request, skip_reason  # noqa: E402

from selenium.common.exceptions import NoAlertPresentException, WebDriverException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support import expected_conditions as EC  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

HOSTILE = '<img src=x onerror=alert(1)>'
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL:', what, file=sys.stderr)


class Console:
    """One browser on the console of one host."""

    def __init__(self, driver, base):
        self.d = driver
        self.base = base
        self.wait = WebDriverWait(driver, 20)

    def open(self, hash_=''):
        self.d.get(self.base + '/console/' + hash_)

    def find(self, xpath):
        return self.wait.until(EC.presence_of_element_located((By.XPATH, xpath)))

    def click(self, xpath):
        el = self.wait.until(EC.element_to_be_clickable((By.XPATH, xpath)))
        el.click()
        return el

    def text_shown(self, text):
        """Waits until the page shows `text`; false when it never does."""
        try:
            WebDriverWait(self.d, 15).until(lambda d: text in d.find_element(By.TAG_NAME, 'body').text)
            return True
        except Exception:
            return False

    def section(self, title):
        return "//section[h2[normalize-space()='%s']]" % title

    def fill(self, scope, label, value):
        """Types into the control labelled `label` within the `scope` XPath."""
        lab = self.find(scope + "//label[normalize-space()='%s']" % label)
        el = self.d.find_element(By.ID, lab.get_attribute('for'))
        el.clear()
        el.send_keys(value)
        return el

    def choose(self, scope, label, visible):
        """Chooses the option showing `visible` (a tree's indent aside)."""
        lab = self.find(scope + "//label[normalize-space()='%s']" % label)
        select = Select(self.d.find_element(By.ID, lab.get_attribute('for')))
        for i, option in enumerate(select.options):
            if option.text.strip() == visible:
                return select.select_by_index(i)
        raise AssertionError('no option %r under %r' % (visible, label))

    def tab_to(self, found):
        """Presses Tab until the focused element satisfies `found`."""
        for _ in range(60):
            self.d.switch_to.active_element.send_keys(Keys.TAB)
            el = self.d.switch_to.active_element
            if found(el):
                return el
        raise AssertionError('Tab never reached the element')

    def submit(self, scope, button):
        self.click(scope + "//button[normalize-space()='%s']" % button)

    def add_named(self, page, button, name):
        """On `page`, the form `button` opens adds `name`; waits for it shown."""
        self.open('#/' + page)
        self.ready(page)
        self.submit('//main', button)
        self.fill(self.section(button), '名称', name)
        self.submit(self.section(button), '添加')
        self.find("//h2[contains(., '%s')]" % name)

    def ready(self, page):
        self.wait.until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready') == page)

    def sign_in(self, account, password):
        self.open()
        self.fill('//main', '帐号', account)
        self.fill('//main', '密码', password)
        self.submit('//main', '登录')

    def signed_in(self):
        return self.text_shown('当前用户：')

    def signed_out_fields(self):
        self.find("//h1[normalize-space()='登录管理控制台']")

    def session_cookie(self):
        c = self.d.get_cookie('tivel_console')
        return c['value'] if c else ''

    def no_alert(self):
        try:
            self.d.switch_to.alert
            return False
        except NoAlertPresentException:
            return True

    def shot(self, directory, name):
        if directory:
            self.d.save_screenshot(os.path.join(directory, name))


def refused_without_session(portal, cookie):
    """Every data route answers 401 without a session, 403 without the CSRF
    token or from another origin."""
    base = portal.url(0)
    batch = '[{"id":1,"new":"TivelMgt.UmMgt"}]'
    json_h = {'Content-Type': 'application/json'}
    for method, path, body in [('POST', '/console/rpc', batch), ('GET', '/console/api/sessions?usr=1', None),
                               ('GET', '/console/api/session', None), ('POST', '/console/api/signout', '')]:
        status = request(base + path, method, body, json_h)[0]
        check(status == 401, '%s %s without a session answers 401, not %s' % (method, path, status))
    with_cookie = {**json_h, 'Cookie': 'tivel_console=' + cookie}
    status = request(base + '/console/rpc', 'POST', batch, with_cookie)[0]
    check(status == 403, 'a batch without the CSRF token answers 403, not %s' % status)
    forged = cookie.split('.')[0] + '.' + '0' * 64
    status = request(base + '/console/rpc', 'POST', batch, {**json_h, 'Cookie': 'tivel_console=' + forged})[0]
    check(status == 401, 'a cookie with a forged signature answers 401, not %s' % status)


def run(portal, shots):
    admin = portal.admin_password
    a = Console(browser(), portal.url(0))
    try:
        # ---- sign-in refused, with the reason in words
        a.sign_in('admin', 'wrong')
        check(a.text_shown('帐号或密码不正确。'), 'a wrong password is told')
        a.sign_in('editor', portal.user_password)
        check(a.text_shown('该帐号没有管理控制台的使用权限。'), 'a user who is no administrator is told')
        check(portal.log_holds('editor无权使用管理控制台，登录被拒绝！'), 'the refusal is logged')
        for _ in range(3):
            portal.console_sign_in('locked', 'wrong')
        a.sign_in('locked', portal.user_password)
        check(a.text_shown('帐号已锁定'), 'a locked account is told')

        # ---- the sign-in and one edit with the keyboard alone
        a.open()
        account = a.find("//input[@name='account']")
        check(a.d.switch_to.active_element == account, 'the account field has the focus')
        a.d.switch_to.active_element.send_keys('admin', Keys.TAB, admin, Keys.ENTER)
        check(a.signed_in(), 'the administrator signs in with the keyboard')
        a.ready('orgs')
        cookie = a.session_cookie()
        check(cookie != '', 'the session cookie is set')
        refused_without_session(portal, cookie)
        # Forged from the page itself: the browser's request without the token.
        status = a.d.execute_async_script(
            "const done = arguments[0]; fetch('/console/rpc', {method: 'POST', headers: "
            "{'Content-Type': 'application/json'}, body: '[]'}).then(r => done(r.status), () => done(0));")
        check(status == 403, 'the page\'s own request without the CSRF token is refused, not %s' % status)

        # One edit by keyboard: Tab to the button, Enter, Tab to the name, type, Enter.
        a.find("//button[normalize-space()='添加顶层部门']")
        a.tab_to(lambda el: el.text == '添加顶层部门').send_keys(Keys.ENTER)
        a.tab_to(lambda el: el.get_attribute('name') == 'Name').send_keys('总部', Keys.ENTER)
        a.find("//h2[normalize-space()='总部']")

        # ---- the hostile department name, shown as its characters
        a.submit('//main', '添加顶层部门')
        a.fill(a.section('添加顶层部门'), '名称', HOSTILE)
        a.submit(a.section('添加顶层部门'), '添加')
        a.find("//h2[normalize-space()=\"%s\"]" % HOSTILE)
        time.sleep(0.5)
        check(a.no_alert(), 'no script of the hostile name ran')
        check(len(a.d.find_elements(By.XPATH, "//img[@src='x']")) == 0, 'the hostile name made no element')
        check(HOSTILE in a.d.find_element(By.TAG_NAME, 'body').text, 'the hostile name shows as text')

        # ---- a department below, and a user in it
        a.click("//button[normalize-space()='总部']")
        a.find("//h2[normalize-space()='总部']")
        a.fill(a.section('添加下级部门'), '名称', '研发部')
        a.submit(a.section('添加下级部门'), '添加')
        a.find("//h2[normalize-space()='研发部']")
        a.open('#/users')
        a.ready('users')
        a.submit('//main', '新增用户')
        form = a.section('新增用户')
        a.fill(form, '帐号', 'zhang')
        a.fill(form, '密码', 'Zh@ng-1')
        a.fill(form, '姓名', '张三')
        a.choose(form, '所属部门', '研发部')
        a.submit(form, '添加')
        a.find("//h1[contains(., '张三 (zhang)')]")
        check(a.text_shown('研发部'), 'the new user is in its department')

        # a group membership and a role: the group and the role made here too
        a.add_named('groups', '新增组', '审计组')
        a.add_named('apps', '新增应用', '财务系统')
        a.add_named('roles', '新增角色', '出纳')

        zhang = portal.usr_no('zhang')
        a.open('#/users/' + zhang)
        a.ready('users')
        a.choose(a.section('所属组'), '组', '审计组 (%s)' % portal.grp_no('审计组'))
        a.submit(a.section('所属组'), '添加')
        a.find(a.section('所属组') + "//td[normalize-space()='审计组']")
        a.choose(a.section('角色'), '角色', '出纳 (财务系统)')
        a.submit(a.section('角色'), '添加')
        a.find(a.section('角色') + "//td[normalize-space()='出纳']")
        check(portal.member_of_group('zhang', '审计组') and portal.has_role('zhang', '出纳'),
              'the group membership and the role are stored')
        a.open('#/users')
        a.ready('users')
        a.shot(shots, 'console-users.png')

        # ---- granting a right: the grid, then checkAuth over /rpc
        a.open('#/apps/' + portal.app_no('财务系统'))
        a.ready('apps')
        a.submit('//main', '新增资源')
        a.fill(a.section('新增资源'), '名称', '凭证')
        a.submit(a.section('新增资源'), '添加')
        a.find("//h3[normalize-space()='凭证']")
        a.fill(a.section('权限'), '权限位', '1')
        a.fill(a.section('权限'), '名称', '查看')
        a.submit(a.section('权限'), '新增权限')
        auth = a.section('授权')
        a.fill(auth, '帐号', 'zhang')
        a.click(auth + "//label[normalize-space()='1 查看']")
        res = portal.res_no('凭证')
        check(portal.check_auth(res, zhang, 1) != '1', 'no right before the grant')
        a.submit(auth, '添加授权对象')
        a.find(auth + "//td[contains(., 'zhang')]")
        check(portal.check_auth(res, zhang, 1) == '1', 'checkAuth answers the right granted in the console')
        a.d.execute_script('arguments[0].scrollIntoView()', a.find(a.section('权限')))
        a.shot(shots, 'console-authorization.png')

        # ---- unlocking a locked user
        a.open('#/users/' + portal.usr_no('locked'))
        a.ready('users')
        check(a.text_shown('帐号已锁定'), 'the locked user shows locked')
        a.submit(a.section('帐号操作'), '解锁（清除登录错误次数）')
        a.wait.until(lambda d: '帐号已锁定' not in d.find_element(By.TAG_NAME, 'body').text)
        status, answer, _ = portal.console_sign_in('locked', portal.user_password)
        check(status == 403 and answer.get('error') == 'denied', 'the unlocked user\'s password opens again')

        # ---- every change names the administrator in the system log
        check(portal.log_holds('admin在控制台：添加部门 ' + HOSTILE), 'the department\'s addition is logged')
        check(portal.log_holds('admin在控制台：授权'), 'the grant is logged')
        a.open('#/log')
        a.ready('log')
        check(a.text_shown('admin在控制台：解锁帐号 locked'), 'the log page shows the latest change')
        a.shot(shots, 'console-log.png')

        # the system pages draw from the components' data
        for tab in ['modules', 'attributes', 'help', 'errors']:
            a.open('#/system/' + tab)
            a.find("//nav[@class='tabs']/a[@aria-current='page'][@href='#/system/%s']" % tab)
            a.ready('system')

        # ---- a session on a second host, and its end on every host
        b = Console(a.d, portal.url(1))
        b.open('#/orgs')
        check(b.signed_in(), 'the second host serves the session')
        b.ready('orgs')
        b.submit('//header', '退出')
        b.signed_out_fields()
        status = request(portal.url(0) + '/console/api/session', headers={'Cookie': 'tivel_console=' + cookie})[0]
        check(status == 401, 'signed out on one host, the session ends on the other, not %s' % status)
    except Exception:
        print('The page when it failed:\n' + a.d.find_element(By.TAG_NAME, 'body').text, file=sys.stderr)
        raise
    finally:
        a.d.quit()

    # ---- the idle time-out, on a host with a short one
    portal.restart_with_idle(0.05)
    c = Console(browser(), portal.url(0))
    try:
        c.sign_in('admin', admin)
        check(c.signed_in(), 'signed in on the short-idle host')
        c.ready('orgs')
        time.sleep(5)
        c.click("//nav//a[@data-page='users']")
        check(c.text_shown('会话已结束，请重新登录。'), 'an idle session ends')
    finally:
        c.d.quit()


def totp(secret, at=None):
    """The six-digit code of a base32 secret now (RFC 6238, SHA-1, 30 s)."""
    key = base64.b32decode(secret + '=' * (-len(secret) % 8))
    mac = hmac.new(key, struct.pack('>Q', int((at or time.time()) // 30)), hashlib.sha1).digest()
    offset = mac[-1] & 15
    return '%06d' % ((struct.unpack('>I', mac[offset:offset + 4])[0] & 0x7fffffff) % 1000000)


def run_second_factor(portal, shots):
    """With the second factor on, the password step opens no session: only
    the code step does, and a wrong code is told and opens nothing. The
    session ends when the password is changed elsewhere."""
    secret = portal.restart_with_second_factor()
    status, answer, cookie = portal.console_sign_in('admin', portal.admin_password)
    check(status == 202 and answer.get('step') == 'code' and cookie == '',
          'the password alone gives a challenge, no session (%s %s)' % (status, answer))
    d = Console(browser(), portal.url(0))
    try:
        d.sign_in('admin', portal.admin_password)
        code = d.find("//input[@name='code']")
        check(d.d.switch_to.active_element == code, 'the code field has the focus')
        check(d.session_cookie() == '', 'no session cookie before the code')
        d.shot(shots, 'console-second-factor.png')
        wrong = '%06d' % ((int(totp(secret)) + 1) % 1000000)
        code.send_keys(wrong, Keys.ENTER)
        check(d.text_shown('验证码不正确或已使用'), 'a wrong code is told')
        check(d.session_cookie() == '', 'a wrong code opens no session')
        d.d.switch_to.active_element.send_keys(totp(secret), Keys.ENTER)
        check(d.signed_in(), 'the right code opens the console')
        check(d.session_cookie() != '', 'the code step sets the session cookie')
        # A password reset elsewhere ends the session at its next request.
        portal.call('TivelMgt.UmMgt', 'changePwd', portal.usr_no('admin'), 'Changed-elsewhere-1')
        # The next request finds the session ended: the click's, or one the
        # page makes on its own first (then the navigation is gone).
        ended = '会话已结束，请重新登录。'
        if ended not in d.d.find_element(By.TAG_NAME, 'body').text:
            try:
                d.click("//nav//a[@data-page='users']")
            except WebDriverException:
                pass
        check(d.text_shown(ended), 'a password changed elsewhere ends the session')
    except Exception:
        print('The page when it failed:\n' + d.d.find_element(By.TAG_NAME, 'body').text, file=sys.stderr)
        raise
    finally:
        d.d.quit()


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    tivel, engine = sys.argv[1], sys.argv[2]
    shots = sys.argv[3] if len(sys.argv) > 3 else ''
    reason = skip_reason(engine)
    if reason:
        print('SKIPPED:', reason)
        return SKIPPED
    with Portal(tivel, engine) as portal:
        run(portal, shots)
        run_second_factor(portal, shots)
    if failures:
        print('%d check(s) failed' % len(failures), file=sys.stderr)
        return 1
    print('console in Chromium (%s): every check passed' % engine)
    return 0


if __name__ == '__main__':
    sys.exit(main())
