#!/usr/bin/python3
"""The administrator's console in a real browser: headless Chromium driven by
Selenium against `tivel serve` processes on a scratch root.

Usage: browser_test.py TIVEL ENGINE [SCREENSHOT_DIR | --audit-only]
ENGINE is sqlite, postgresql or mariadb (a server engine needs its
TIVEL_TEST_PG_* or TIVEL_TEST_MARIADB_* HOST, PORT, USER and PASSWORD). Exits 77 (skipped) when Chromium, its driver or
Selenium is missing, or the engine's server is not given. Every page is
audited with axe-core in both languages (no critical or serious violation
may remain); without axe-core (scripts/install-deps.sh fetches it) those
checks are skipped with a message, except under CI, where they fail.
--audit-only makes the pages' data through the components and only audits,
so any build of the console can be measured.
"""
import base64
import hashlib
import hmac
import os
import re
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from console_fixture import SKIPPED, Portal, axe_source, axe_violations, browser, request, skip_reason  # noqa: E402

from selenium.common.exceptions import (NoAlertPresentException, StaleElementReferenceException,  # noqa: E402
                                        WebDriverException)
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support import expected_conditions as EC  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

HOSTILE = '<img src=x onerror=alert(1)>'
failures = []
# The accessibility audit: (language, page, [(impact, rule, nodes)]).
audits = []
AXE, AXE_MISSING = axe_source()


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
        """Clicks the element; one the page drew anew meanwhile is found again."""
        for attempt in range(3):
            try:
                el = self.wait.until(EC.element_to_be_clickable((By.XPATH, xpath)))
                el.click()
                return el
            except StaleElementReferenceException:
                if attempt == 2:
                    raise

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


# ---- accessibility and layout

def audit(c, lang, page):
    """Runs axe-core on the page shown and notes its violations; none may be
    critical or serious."""
    if not AXE:
        return
    found = axe_violations(c.d, AXE)
    audits.append((lang, page, found))
    bad = [v for v in found if v[0] in ('critical', 'serious', 'error')]
    check(not bad, 'axe-core (%s, %s): %s' % (lang, page, bad))


def header_holds(c, lang):
    """At 1280 px the header is one row; at 1280 px and on a narrow window no
    link, button or name in it wraps, and nothing runs past the window's edge."""
    for width in (1280, 560):
        c.d.set_window_size(width, 900)
        time.sleep(0.3)
        wrapped = c.d.execute_script(
            "return [...document.querySelectorAll('header a, header button, header .who, header .brand')]"
            ".filter(el => {"
            "  const cs = getComputedStyle(el);"
            "  const line = parseFloat(cs.lineHeight) || 1.25 * parseFloat(cs.fontSize);"
            "  return el.getClientRects().length > 1 ||"
            "    el.clientHeight - parseFloat(cs.paddingTop) - parseFloat(cs.paddingBottom) > 1.5 * line;"
            "}).map(el => el.textContent);")
        check(not wrapped, 'header at %d px (%s): nothing wraps, not %s' % (width, lang, wrapped))
        over = c.d.execute_script('return document.documentElement.scrollWidth - window.innerWidth')
        check(over <= 0, 'header at %d px (%s): nothing past the edge (%s px)' % (width, lang, over))
        if width == 1280:
            spread = c.d.execute_script(
                "const tops = [...document.querySelector('header').children].map(el => el.getBoundingClientRect().top);"
                "return Math.max(...tops) - Math.min(...tops);")
            check(spread < 20, 'header at 1280 px (%s): one row (its items %d px apart)' % (lang, spread))
    c.d.set_window_size(1280, 900)


def audit_signed_in(a, portal, lang):
    """Every page, in the language shown."""
    pages = [('#/orgs/' + portal.org_no('总部'), 'orgs', 'organisation'), ('#/users', 'users', 'users'),
             ('#/users/' + portal.usr_no('zhang'), 'users', 'user'), ('#/groups', 'groups', 'groups'),
             ('#/roles', 'roles', 'roles'), ('#/apps/' + portal.app_no('财务系统'), 'apps', 'application'),
             ('#/system/modules', 'system', 'modules'), ('#/system/attributes', 'system', 'attributes'),
             ('#/system/help', 'system', 'help'), ('#/system/errors', 'system', 'errors'), ('#/log', 'log', 'log')]
    for hash_, ready, name in pages:
        a.open(hash_)
        a.ready(ready)
        if name == 'users' and a.d.find_elements(By.XPATH, "//button[@data-locked]"):
            a.click("//button[@data-locked]")
            a.find("//section[h2[@data-locked-list]]")
        if name == 'user' and a.d.find_elements(By.XPATH, "//details[@class='raw']/summary"):
            a.click("//details[@class='raw']/summary")
        audit(a, lang, name)
    header_holds(a, lang)


def seed_for_audit(portal):
    """The data the audited pages show, made through the components."""
    def add(progid, member, cls, props):
        batch = [{'id': 'o', 'new': progid}, {'id': 'r', 'new': 'TivelPublicDB.' + cls}]
        batch += [{'id': 'p%d' % i, 'object': {'from': 'r'}, 'put': k, 'value': v} for i, (k, v) in enumerate(props)]
        batch.append({'id': 'c', 'object': {'from': 'o'}, 'call': member, 'args': [{'from': 'r'}, {'ref': ''}]})
        portal.rpc(batch)
    add('TivelMgt.UmMgt', 'addOrg', 'cUmOrg', [('Name', '总部'), ('Top_Org_No', '0')])
    add('TivelMgt.AppMgt', 'addApp', 'cApp', [('Name', '财务系统')])
    portal.call('TivelMgt.AdminMgt', 'addUsr', 'zhang', 'Zh@ng-1', '张三', '', '', '', '', '')


def audit_only(portal):
    """Only the audit, for any build of the console: every page, both languages."""
    seed_for_audit(portal)
    a = Console(browser(), portal.url(0))
    try:
        a.open()
        a.find("//input[@name='account']")
        audit(a, 'zh-CN', 'sign-in')
        a.d.switch_to.active_element.send_keys('admin', Keys.TAB, portal.admin_password, Keys.ENTER)
        check(a.signed_in(), 'signed in')
        audit_signed_in(a, portal, 'zh-CN')
        switch_language(a)
        audit_signed_in(a, portal, 'en')
    finally:
        a.d.quit()


def audit_table():
    """The audit's counts by page and language: critical, serious, the rules."""
    print('%-8s %-14s %8s %8s  %s' % ('language', 'page', 'critical', 'serious', 'rules (critical and serious)'))
    for lang, page, found in audits:
        n = lambda impact: sum(1 for v in found if v[0] == impact)  # noqa: E731
        rules = sorted({'%s x%d' % (v[1], v[2]) for v in found if v[0] in ('critical', 'serious')})
        print('%-8s %-14s %8d %8d  %s' % (lang, page, n('critical'), n('serious'), ', '.join(rules)))


def switch_language(a):
    a.click("//button[contains(@class, 'lang')]")
    time.sleep(0.3)


def tree_by_keyboard(a, portal):
    """The departments tree: one item in the tab order, the arrows move,
    Left and Right close and open, Enter chooses and keeps the focus."""
    a.open('#/orgs')
    a.ready('orgs')
    tree = a.find("//ul[@role='tree']")
    check(len(tree.find_elements(By.XPATH, ".//li[@role='treeitem'][@tabindex='0']")) == 1, 'one item is tabbable')
    item = a.tab_to(lambda el: el.get_attribute('role') == 'treeitem')
    check(item.get_attribute('aria-level') == '1', 'Tab reaches the tree\'s first item')
    label = lambda: a.d.switch_to.active_element.find_element(By.XPATH, "./span").text  # noqa: E731
    names = []
    for _ in range(3):
        names.append(label())
        a.d.switch_to.active_element.send_keys(Keys.ARROW_DOWN)
    check(names[:2] == ['总部', '研发部'] or names[1:3] == ['总部', '研发部'], 'Down walks the items in order: %s' % names)
    a.d.switch_to.active_element.send_keys(Keys.HOME)
    while label() != '总部':
        a.d.switch_to.active_element.send_keys(Keys.ARROW_DOWN)
    top = a.d.switch_to.active_element
    top.send_keys(Keys.ARROW_LEFT)
    check(top.get_attribute('aria-expanded') == 'false', 'Left closes an open item')
    check(not a.find("//span[normalize-space()='研发部']").is_displayed(), 'a closed item hides its children')
    top.send_keys(Keys.ARROW_RIGHT)
    top.send_keys(Keys.ARROW_RIGHT)
    check(label() == '研发部', 'Right opens, then goes to the first child')
    a.d.switch_to.active_element.send_keys(Keys.ARROW_LEFT)
    check(label() == '总部', 'Left on a child goes to its parent')
    a.d.switch_to.active_element.send_keys(Keys.ARROW_DOWN, Keys.ENTER)
    a.find("//h2[normalize-space()='研发部']")
    a.wait.until(lambda d: d.switch_to.active_element.get_attribute('aria-selected') == 'true')
    check(label() == '研发部', 'Enter chooses the item and the focus stays on it')


def csv_of(a, href):
    """(status, content type, bytes as a list) of an export the page's link names."""
    return a.d.execute_async_script(
        "const done = arguments[1]; fetch(arguments[0]).then(async r => done([r.status,"
        " r.headers.get('Content-Type'), [...new Uint8Array(await r.arrayBuffer())]]), e => done([0, String(e), []]));",
        href)


def daily_tasks(a, portal):
    """What an administrator does every day, each through the page."""
    zhang = portal.usr_no('zhang')
    # UserTasks is the console's only: a pages token cannot create it.
    answer = portal.rpc([{'id': 'o', 'new': 'TivelMgt.UserTasks'}])
    check('error' in answer['o'], 'a pages token cannot create UserTasks')

    # ---- locked users, unlocked from their list
    for _ in range(3):
        portal.console_sign_in('editor', 'wrong')
    a.open('#/users')
    a.ready('users')
    a.click("//button[@data-locked]")
    locked = "//section[h2[@data-locked-list]]"
    a.find(locked + "//td[a[normalize-space()='editor']]")
    check(a.find(locked + "//tr[td/a[normalize-space()='editor']]/td[3]").text == '3', 'the list shows the count')
    a.click(locked + "//tr[td/a[normalize-space()='editor']]//button")
    check(a.text_shown('editor 已解锁。'), 'the unlock is told')
    status, answer, _ = portal.console_sign_in('editor', portal.user_password)
    check(status == 403 and answer.get('error') == 'denied', 'the unlocked user\'s password opens again')
    check(portal.log_holds('admin在控制台：解锁帐号 editor'), 'the unlock is logged')

    # ---- filters and sorting
    a.open('#/users')
    a.ready('users')
    rows = lambda: a.d.execute_script(  # noqa: E731
        "return [...document.querySelectorAll('.results tbody tr td:nth-child(2)')].map(td => td.textContent)")
    a.find("//select[@name='org']/option[contains(., '研发部')]")
    Select(a.find("//select[@name='org']")).select_by_visible_text('　研发部')
    a.wait.until(lambda d: rows() == ['zhang'])
    Select(a.find("//select[@name='org']")).select_by_index(0)
    Select(a.find("//select[@name='grp']")).select_by_visible_text('审计组')
    a.wait.until(lambda d: rows() == ['zhang'])
    Select(a.find("//select[@name='grp']")).select_by_index(0)
    Select(a.find("//select[@name='state']")).select_by_visible_text('冻结')
    a.wait.until(lambda d: rows() == [])
    Select(a.find("//select[@name='state']")).select_by_index(0)
    a.wait.until(lambda d: len(rows()) > 3)
    a.click("//th/button[@data-sort='account']")
    a.wait.until(lambda d: rows() and rows()[0] == 'zhang')
    check(a.find("//th[button[@data-sort='account']]").get_attribute('aria-sort') == 'descending',
          'the sorted column says so')

    # ---- several users into a group and out again, in one change each; a
    # member already in it is left as it is and named
    grp = '审计组 (%s)' % portal.grp_no('审计组')
    for account in ('editor', 'locked', 'zhang'):
        a.click("//tr[td/a[normalize-space()='%s']]//input[@type='checkbox']" % account)
    Select(a.find("//select[@name='bulkGrp']")).select_by_visible_text(grp)
    a.click("//button[normalize-space()='加入该组']")
    check(a.text_shown('2 个用户已加入 %s。 已在组中，未改动：zhang' % grp), 'the bulk addition is told')
    check(portal.member_of_group('editor', '审计组') and portal.member_of_group('locked', '审计组'),
          'both are members')
    for account in ('editor', 'locked'):
        a.click("//tr[td/a[normalize-space()='%s']]//input[@type='checkbox']" % account)
    a.click("//button[normalize-space()='移出该组']")
    check(a.text_shown('2 个用户已移出'), 'the bulk removal is told')
    check(not portal.member_of_group('editor', '审计组') and not portal.member_of_group('locked', '审计组'),
          'neither is a member')
    check(portal.member_of_group('zhang', '审计组'), 'the member left out stays one')
    check(portal.log_holds('批量加入组 editor, locked →'), 'the bulk change is logged with the accounts it changed')

    # ---- the exports: UTF-8 with a BOM, quoted, formulas defused, logged
    portal.call('TivelMgt.AdminMgt', 'addUsr', 'formula', portal.user_password, '=SUM(1)', '', '', '', '', '')
    href = a.find("//a[normalize-space()='导出 CSV']").get_attribute('href')
    status, kind, data = csv_of(a, href)
    text = bytes(data).decode('utf-8', 'replace')
    check(status == 200 and kind.startswith('text/csv'), 'the users export answers CSV (%s %s)' % (status, kind))
    check(bytes(data[:3]) == b'\xef\xbb\xbf', 'the export starts with the byte-order mark')
    check('"zhang","张三"' in text and '"\'=SUM(1)"' in text, 'rows quoted, Chinese kept, formulas defused')
    status = csv_of(a, href.split('&csrf=')[0].split('?csrf=')[0])[0]
    check(status == 403, 'an export without the CSRF token is refused, not %s' % status)
    status = csv_of(a, re.sub('sort=[^&]*', 'sort=pwd', href))[0]
    check(status == 400, 'an export asked for an unknown order answers 400, not %s' % status)
    check(portal.log_holds('admin在控制台：导出用户 CSV'), 'the export is logged')

    # ---- the log's filters and its export
    a.open('#/log')
    a.ready('log')
    today = time.strftime('%Y-%m-%d')
    a.d.execute_script("document.querySelector('input[name=from]').value = arguments[0] + 'T00:00';"
                       "document.querySelector('input[name=to]').value = arguments[0] + 'T23:59';", today)
    a.fill('//main', '帐号', 'admin')
    a.fill('//main', '内容包含', '解锁帐号 editor')
    a.submit('//main', '筛选')
    entries = "//div[@class='results']//tbody/tr"
    a.wait.until(lambda d: len(d.find_elements(By.XPATH, entries)) == 1)
    status, kind, data = csv_of(a, a.find("//a[normalize-space()='导出 CSV']").get_attribute('href'))
    text = bytes(data).decode('utf-8', 'replace')
    check(status == 200 and text.count('\r\n') == 2 and '解锁帐号 editor' in text, 'the log export holds the filter\'s entry')
    # To the minute: the entry's own minute holds it at either end, the next one does not.
    logged = a.find(entries + '/td[1]').text
    minute = logged[:10] + 'T' + logged[11:16]
    later = time.strftime('%Y-%m-%dT%H:%M', time.localtime(time.mktime(time.strptime(logged[:16], '%Y-%m-%d %H:%M')) + 60))
    set_range = ("document.querySelector('input[name=from]').value = arguments[0];"
                 "document.querySelector('input[name=to]').value = arguments[1];")
    a.d.execute_script(set_range, minute, minute)
    a.submit('//main', '筛选')
    a.wait.until(lambda d: len(d.find_elements(By.XPATH, entries)) == 1)
    check('from=' + minute.replace(':', '%3A') in a.find("//a[normalize-space()='导出 CSV']").get_attribute('href'),
          'the export takes the minute too')
    a.d.execute_script(set_range, later, '')
    a.submit('//main', '筛选')
    a.wait.until(lambda d: len(d.find_elements(By.XPATH, entries)) == 0)
    a.d.execute_script(set_range, '', minute)
    a.submit('//main', '筛选')
    a.wait.until(lambda d: len(d.find_elements(By.XPATH, entries)) == 1)
    a.d.execute_script("document.querySelector('input[name=from]').value = '2099-01-01T00:00'")
    a.submit('//main', '筛选')
    a.wait.until(lambda d: len(d.find_elements(By.XPATH, entries)) == 0)

    # ---- a reset that demands a new password at the next login
    a.open('#/users/' + zhang)
    a.ready('users')
    reset = a.section('帐号操作')
    a.fill(reset, '新密码', 'Zh@ng-2')
    must = a.find(reset + "//input[@name='mustChange']")
    check(must.is_selected(), 'the demand is asked by default')
    a.submit(reset, '重置密码')
    check(a.text_shown('密码已重置，下次登录时必须修改。'), 'the reset is told')
    check(portal.call('TivelMgt.UmMgt', 'getUsrSecValue', 'PwdFirstLimit', zhang) == '1', 'PwdFirstLimit is 1')
    status, answer, _ = portal.console_sign_in('zhang', 'Zh@ng-2')
    check(answer.get('code') == '10016', 'the next login must change the password (%s %s)' % (status, answer))
    check(portal.log_holds('重置密码 zhang（下次登录须修改）'), 'the reset is logged')

    # ---- security attributes as what they mean; the second factor enrolled and removed
    a.open('#/users/' + zhang)
    a.ready('users')
    sec = a.section('安全属性')
    body = a.find(sec).text
    check('PwdTwo' not in body and 'LdapPwd' not in body, 'raw keys stay behind the disclosure')
    date = a.find(sec + "//input[@aria-label='帐号有效期至']")
    check(date.get_attribute('type') == 'date', 'a date is picked as a date')
    check(a.find(sec + "//input[@aria-label='下次登录须修改密码']").get_attribute('role') == 'switch', 'a flag is a switch')
    a.d.execute_script("arguments[0].value = '2030-12-31'", date)
    a.click(sec + "//tr[.//input[@aria-label='帐号有效期至']]//button[normalize-space()='保存']")
    a.wait.until(lambda d: portal.call('TivelMgt.UmMgt', 'getUsrSecValue', 'AcntLimitDate', zhang) == '2030-12-31')
    # Drawn again after the change: the date's row now has its clear button.
    a.find(sec + "//tr[.//input[@aria-label='帐号有效期至']]//button[normalize-space()='清除']")
    a.click("//button[normalize-space()='启用二次验证（生成新密钥）']")
    a.click("//button[normalize-space()='生成新密钥？旧密钥将失效。']")
    check(a.text_shown('密钥只显示这一次'), 'the new secret is shown once')
    a.open('#/users')
    a.ready('users')
    a.open('#/users/' + zhang)
    a.ready('users')
    check(a.text_shown('已启用：登录需输入一次性验证码。'), 'the second factor shows on')
    a.click("//button[normalize-space()='移除二次验证']")
    a.click("//button[normalize-space()='确定移除？密钥将被删除。']")
    check(a.text_shown('未启用。'), 'the second factor shows off')
    check(portal.call('TivelMgt.UmMgt', 'getUsrSecValue', 'IsPwdTwo', zhang) == '0' and
          portal.call('TivelMgt.UmMgt', 'getUsrSecValue', 'PwdTwo', zhang) == '', 'the secret is gone, the flag 0')
    check(portal.log_holds('移除二次验证 zhang'), 'the removal is logged')


def refused_without_session(portal, cookie):
    """Every data route answers 401 without a session, 403 without the CSRF
    token or from another origin."""
    base = portal.url(0)
    batch = '[{"id":1,"new":"TivelMgt.UmMgt"}]'
    json_h = {'Content-Type': 'application/json'}
    for method, path, body in [('POST', '/console/rpc', batch), ('GET', '/console/export/users.csv', None),
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

        # ---- the sign-in page, audited in both languages
        a.open()
        a.find("//input[@name='account']")
        audit(a, 'zh-CN', 'sign-in')
        switch_language(a)
        audit(a, 'en', 'sign-in')
        switch_language(a)

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
        a.click("//li[@role='treeitem']/span[normalize-space()='总部']")
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

        tree_by_keyboard(a, portal)
        daily_tasks(a, portal)
        a.open('#/users')
        a.ready('users')
        a.shot(shots, 'console-users.png')
        a.open('#/users/' + portal.usr_no('zhang'))
        a.ready('users')
        a.d.execute_script('arguments[0].scrollIntoView()', a.find(a.section('安全属性')))
        a.shot(shots, 'console-security.png')
        audit_signed_in(a, portal, 'zh-CN')
        switch_language(a)
        audit_signed_in(a, portal, 'en')
        switch_language(a)

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
        audit(d, 'zh-CN', 'code step')
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
    if not AXE:
        if os.environ.get('CI'):
            failures.append(AXE_MISSING)
        print('SKIPPED (accessibility checks only):', AXE_MISSING)
    with Portal(tivel, engine) as portal:
        if shots == '--audit-only':
            audit_only(portal)
        else:
            run(portal, shots)
            run_second_factor(portal, shots)
    audit_table()
    if failures:
        print('%d check(s) failed' % len(failures), file=sys.stderr)
        return 1
    print('console in Chromium (%s): every check passed' % engine)
    return 0


if __name__ == '__main__':
    sys.exit(main())
